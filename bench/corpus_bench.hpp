#pragma once
// What the corpus benchmarks share: the corpus folder from the command line,
// its files, throughput counters and the run of the registered benchmarks.
// Usage of a benchmark built on this: <bench> [corpus-dir] [benchmark flags];
// the folder defaults to $TORVANE_CORPUS, else ../shared/corpus beside the repo.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "corpus.hpp"

namespace torvane::testing {

using Queries = std::vector<std::string>;

// The corpus folder: the first argument unless it is a flag (it is then taken
// out of argv, which goes on to the benchmark library), else the default.
inline std::filesystem::path corpus_dir_from_args(int& argc, char** argv) {
  std::filesystem::path dir = corpus_dir();
  if (argc > 1 && argv[1][0] != '-') {
    dir = argv[1];
    for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
    --argc;
  }
  return dir;
}

// The corpus files in `dir`; where there are none, says so on stderr.
inline std::vector<std::filesystem::path> corpus_files_or_report(const std::filesystem::path& dir) {
  auto files = corpus_files(dir);
  if (files.empty()) std::fprintf(stderr, "no corpus files (*.jsonl) in %s\n", dir.c_str());
  return files;
}

// Bytes and queries per second, given those of one iteration.
inline void report_throughput(benchmark::State& bs, std::size_t bytes, std::size_t queries) {
  bs.SetBytesProcessed(static_cast<std::int64_t>(bs.iterations() * bytes));
  bs.SetItemsProcessed(static_cast<std::int64_t>(bs.iterations() * queries));
}

// Runs the registered benchmarks with the flags left in argv.
inline int run_benchmarks(int& argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// One benchmark per corpus file: `body` runs over every query of the file once
// per iteration, and bytes and queries per second are reported.
template <class Body>
int run_per_corpus_file(int argc, char** argv, const std::string& name, Body body) {
  const std::filesystem::path dir = corpus_dir_from_args(argc, argv);
  const auto files = corpus_files_or_report(dir);
  if (files.empty()) return 1;
  static std::deque<Queries> corpora;  // the benchmarks keep pointers into it
  for (const auto& f : files) {
    const Queries& queries = corpora.emplace_back(read_queries(f));
    benchmark::RegisterBenchmark((name + "/" + f.stem().string()).c_str(),
                                 [&queries, body](benchmark::State& bs) {
                                   std::size_t bytes = 0;
                                   for (const std::string& q : queries) bytes += q.size();
                                   for (auto _ : bs) body(bs, queries);
                                   report_throughput(bs, bytes, queries.size());
                                 })
        ->Unit(benchmark::kMillisecond);
  }
  return run_benchmarks(argc, argv);
}

}  // namespace torvane::testing
