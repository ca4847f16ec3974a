// Grammar throughput on the corpus: one benchmark per corpus file, each
// parsing every query of the file once per iteration on one reused state.
// Usage: grammar_bench [corpus-dir] [benchmark flags]; the folder defaults to
// $TORVANE_CORPUS, else ../shared/corpus next to the repository.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "corpus.hpp"
#include "parser/cypher_parser.hpp"
#include "parser/engine.hpp"

namespace {

using torvane::parser::CypherParser;
using torvane::parser::ParserState;
using torvane::parser::Rule;

void parse_file(benchmark::State& bs, const std::vector<std::string>* queries) {
  ParserState state;
  std::size_t bytes = 0, accepted = 0;
  for (const std::string& q : *queries) bytes += q.size();
  for (auto _ : bs) {
    accepted = 0;
    for (const std::string& q : *queries) {
      auto r = CypherParser::parse_into(state, Rule::cypher, q);
      accepted += r.ok();
      benchmark::DoNotOptimize(r);
    }
  }
  bs.SetBytesProcessed(static_cast<std::int64_t>(bs.iterations() * bytes));
  bs.SetItemsProcessed(static_cast<std::int64_t>(bs.iterations() * queries->size()));
  bs.counters["accepted"] = static_cast<double>(accepted);
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path dir = torvane::testing::corpus_dir();
  if (argc > 1 && argv[1][0] != '-') {
    dir = argv[1];
    for (int i = 1; i + 1 < argc; ++i) argv[i] = argv[i + 1];
    --argc;
  }
  static std::vector<std::vector<std::string>> corpora;
  const auto files = torvane::testing::corpus_files(dir);
  if (files.empty()) {
    std::fprintf(stderr, "no corpus files (*.jsonl) in %s\n", dir.c_str());
    return 1;
  }
  corpora.reserve(files.size());
  for (const auto& f : files) {
    corpora.push_back(torvane::testing::read_queries(f));
    benchmark::RegisterBenchmark(("grammar/" + f.stem().string()).c_str(), parse_file, &corpora.back())
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
