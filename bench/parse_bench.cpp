// Parse throughput on the corpus, one benchmark per corpus file and family:
//   parse/<file>  `parse` on every query: grammar, pairs, syntax tree, release;
//   build/<file>  the builder alone: `build_query` on parse trees made before
//                 timing (accepted queries only), and the tree's release.
// Bytes and queries per second count the queries each family runs over.
// Usage: parse_bench [corpus-dir] [benchmark flags]; the folder defaults to
// $TORVANE_CORPUS, else ../shared/corpus beside the repository.
#include <benchmark/benchmark.h>

#include <deque>
#include <string>
#include <vector>

#include "corpus_bench.hpp"
#include "parser/builder.hpp"
#include "parser/cypher_parser.hpp"
#include "parser/parse.hpp"

namespace {

using torvane::parser::CypherParser;
using torvane::parser::ParseTree;
using torvane::parser::Rule;
using torvane::testing::report_throughput;

struct Corpus {
  std::vector<std::string> queries;
  std::vector<ParseTree> trees;  // of the accepted queries; they point into `queries`
  std::size_t bytes = 0, tree_bytes = 0;
};

void parse_all(benchmark::State& bs, const Corpus* c) {
  std::size_t built = 0;
  for (auto _ : bs) {
    built = 0;
    for (const std::string& q : c->queries) {
      auto r = torvane::parser::parse(q);
      built += r.ok();
      benchmark::DoNotOptimize(r);
    }
  }
  report_throughput(bs, c->bytes, c->queries.size());
  bs.counters["built"] = static_cast<double>(built);
}

void build_all(benchmark::State& bs, const Corpus* c) {
  for (auto _ : bs) {
    for (const ParseTree& t : c->trees) {
      auto r = torvane::parser::builder::build_query(*t.pairs().peek());
      benchmark::DoNotOptimize(r);
    }
  }
  report_throughput(bs, c->tree_bytes, c->trees.size());
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path dir = torvane::testing::corpus_dir_from_args(argc, argv);
  const auto files = torvane::testing::corpus_files_or_report(dir);
  if (files.empty()) return 1;
  static std::deque<Corpus> corpora;  // the benchmarks keep pointers into it
  for (const auto& f : files) {
    Corpus& c = corpora.emplace_back();
    c.queries = torvane::testing::read_queries(f);
    for (const std::string& q : c.queries) {
      c.bytes += q.size();
      auto tree = CypherParser::parse(Rule::cypher, q);
      if (!tree.ok()) continue;
      c.trees.push_back(std::move(tree).value());
      c.tree_bytes += q.size();
    }
    const std::string stem = f.stem().string();
    benchmark::RegisterBenchmark(("parse/" + stem).c_str(), parse_all, &c)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("build/" + stem).c_str(), build_all, &c)
        ->Unit(benchmark::kMillisecond);
  }
  return torvane::testing::run_benchmarks(argc, argv);
}
