// Parse-and-build throughput on the corpus: grammar, pairs and syntax tree.
#include "corpus_bench.hpp"
#include "parser/parse.hpp"

int main(int argc, char** argv) {
  return torvane::testing::run_per_corpus_file(
      argc, argv, "parse", [](benchmark::State& bs, const torvane::testing::Queries& queries) {
        std::size_t built = 0;
        for (const std::string& q : queries) {
          auto r = torvane::parser::parse(q);
          built += r.ok();
          benchmark::DoNotOptimize(r);
        }
        bs.counters["built"] = static_cast<double>(built);
      });
}
