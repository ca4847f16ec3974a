// Batch validation on worker pools of 1, 2, 4 and 8 threads, as
// Torvane.validate_batch runs it: 50,000 texts from the text2cypher files
// (repeated as needed) against the schema of the first one's database, one
// result per text. Beside it a loop of pure arithmetic on the same pools shows
// the speed-up the machine allows at the moment, since a shared machine gives
// less than its cores.
// Usage: batch_bench [corpus-dir] [benchmark flags]; the folder defaults to
// $TORVANE_CORPUS, else ../shared/corpus next to the repository.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pool/pool.hpp"
#include "corpus_bench.hpp"
#include "corpus_schemas.hpp"
#include "validator/torvane.hpp"

namespace {

using torvane::validator::Torvane;
using torvane::validator::Findings;

constexpr std::size_t kTexts = 50'000;

struct Batch {
  std::vector<std::string> texts;
  std::unique_ptr<Torvane> validator;
};

oneapi::tbb::task_arena& workers(std::int64_t threads) {
  static std::vector<std::unique_ptr<oneapi::tbb::task_arena>> arenas(9);
  auto& a = arenas[static_cast<std::size_t>(threads)];
  if (!a) {
    a = std::make_unique<oneapi::tbb::task_arena>(static_cast<int>(threads));
    a->initialize();
  }
  return *a;
}

// Each worker makes its texts' findings in place of their own results, and
// the results are freed after the clock stops, as a caller frees them later.
void validate_batch(benchmark::State& bs, const Batch* batch) {
  auto& pool = workers(bs.range(0));
  const std::size_t n = batch->texts.size();
  for (auto _ : bs) {
    std::vector<std::unique_ptr<Findings>> results(n);
    torvane::pool::for_each_index(pool, n, [&](std::size_t i) {
      results[i] = std::make_unique<Findings>(batch->validator->findings(batch->texts[i]));
    });
    benchmark::DoNotOptimize(results.data());
    bs.PauseTiming();
    results.clear();
    bs.ResumeTiming();
  }
  bs.SetItemsProcessed(static_cast<std::int64_t>(bs.iterations() * n));
}

// About a microsecond of dependent multiplies and shifts per item, touching no memory.
void control(benchmark::State& bs) {
  auto& pool = workers(bs.range(0));
  std::vector<std::uint64_t> out(kTexts);
  for (auto _ : bs) {
    torvane::pool::for_each_index(pool, kTexts, [&](std::size_t i) {
      std::uint64_t x = i + 1;
      for (int k = 0; k < 1000; ++k) x = (x ^ (x >> 29)) * 0xbf58476d1ce4e5b9ULL;
      out[i] = x;
    });
    benchmark::DoNotOptimize(out.data());
  }
  bs.SetItemsProcessed(static_cast<std::int64_t>(bs.iterations() * kTexts));
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path dir = torvane::testing::corpus_dir_from_args(argc, argv);
  torvane::testing::CorpusSchemas schemas(dir, {});
  static Batch batch;
  for (const auto& f : torvane::testing::corpus_files_or_report(dir)) {
    if (f.stem().string().rfind("neo4j-text2cypher-", 0) != 0) continue;
    for (auto& q : schemas.read(f)) {
      if (!batch.validator) batch.validator = std::make_unique<Torvane>(*q.schema);
      batch.texts.push_back(std::move(q.query));
    }
  }
  if (batch.texts.empty()) {
    std::fprintf(stderr, "no text2cypher queries in %s\n", dir.c_str());
    return 1;
  }
  for (std::size_t i = 0; batch.texts.size() < kTexts; ++i) batch.texts.push_back(batch.texts[i]);
  batch.texts.resize(kTexts);
  for (std::int64_t threads : {1, 2, 4, 8}) {
    benchmark::RegisterBenchmark("validate_batch", validate_batch, &batch)
        ->Arg(threads)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("control", control)
        ->Arg(threads)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  return torvane::testing::run_benchmarks(argc, argv);
}
