#pragma once
// One benchmark per corpus file: `body` runs over every query of the file once
// per iteration, and bytes and queries per second are reported.
// Usage of a benchmark built on this: <bench> [corpus-dir] [benchmark flags];
// the folder defaults to $TORVANE_CORPUS, else ../shared/corpus beside the repo.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "corpus.hpp"

namespace torvane::testing {

using Queries = std::vector<std::string>;

template <class Body>
int run_per_corpus_file(int argc, char** argv, const std::string& name, Body body) {
  std::filesystem::path dir = corpus_dir();
  if (argc > 1 && argv[1][0] != '-') {
    dir = argv[1];
    for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
    --argc;
  }
  const auto files = corpus_files(dir);
  if (files.empty()) {
    std::fprintf(stderr, "no corpus files (*.jsonl) in %s\n", dir.c_str());
    return 1;
  }
  static std::deque<Queries> corpora;  // the benchmarks keep pointers into it
  for (const auto& f : files) {
    const Queries& queries = corpora.emplace_back(read_queries(f));
    benchmark::RegisterBenchmark((name + "/" + f.stem().string()).c_str(),
                                 [&queries, body](benchmark::State& bs) {
                                   std::size_t bytes = 0;
                                   for (const std::string& q : queries) bytes += q.size();
                                   for (auto _ : bs) body(bs, queries);
                                   bs.SetBytesProcessed(static_cast<std::int64_t>(bs.iterations() * bytes));
                                   bs.SetItemsProcessed(
                                       static_cast<std::int64_t>(bs.iterations() * queries.size()));
                                 })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace torvane::testing
