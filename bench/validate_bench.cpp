// Validation throughput on the corpus, single thread: parse, semantic checks
// and result assembly. Per corpus file, each query is validated against the
// schema of the database it names (the example schema when it names none),
// and, separately, every query against the example schema; `checks/` times
// the work after the parse alone, on trees parsed beforehand, own schemas.
// `or_filter/<terms>` validates one filter of that many ORed comparisons, as
// programs build them, against the example schema: its time per term stays
// flat from 1,000 to 100,000 terms; `or_filter_misspelt` misspells the key
// of every term, so each gives a finding, and the query gets a correction.
// Usage: validate_bench [corpus-dir] [benchmark flags]; the folder defaults to
// $TORVANE_CORPUS, else ../shared/corpus next to the repository.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "corpus_bench.hpp"
#include "corpus_schemas.hpp"
#include "parser/parse.hpp"
#include "validator/torvane.hpp"

namespace {

using torvane::parser::ast::CypherQuery;
using torvane::schema::Schema;
using torvane::testing::CorpusQuery;
using torvane::validator::Torvane;

struct Job {
  std::vector<std::string> queries;
  std::vector<const Torvane*> validators;  // one per query
};

// The queries of a job that parse, with their trees.
struct ParsedJob {
  std::vector<std::string> queries;
  std::vector<CypherQuery> trees;
  std::vector<const Torvane*> validators;
};

// Times `validate(i)` for every query i of `job`.
template <class J, class F>
void time_all(benchmark::State& bs, const J* job, F validate) {
  std::size_t bytes = 0, valid = 0;
  for (const std::string& q : job->queries) bytes += q.size();
  for (auto _ : bs) {
    valid = 0;
    for (std::size_t i = 0; i < job->queries.size(); ++i) {
      auto r = validate(i);
      valid += r.is_valid;
      benchmark::DoNotOptimize(r);
    }
  }
  torvane::testing::report_throughput(bs, bytes, job->queries.size());
  bs.counters["valid"] = static_cast<double>(valid);
}

void validate_all(benchmark::State& bs, const Job* job) {
  time_all(bs, job, [job](std::size_t i) { return job->validators[i]->validate(job->queries[i]); });
}

void check_all(benchmark::State& bs, const ParsedJob* job) {
  time_all(bs, job, [job](std::size_t i) {
    return job->validators[i]->validate_parsed(job->queries[i], job->trees[i]);
  });
}

ParsedJob parsed(const Job& job) {
  ParsedJob out;
  for (std::size_t i = 0; i < job.queries.size(); ++i) {
    auto tree = torvane::parser::parse(job.queries[i]);
    if (!tree) continue;
    out.queries.push_back(job.queries[i]);
    out.trees.push_back(std::move(*tree));
    out.validators.push_back(job.validators[i]);
  }
  return out;
}

// MATCH (n:Person) WHERE n.name = 'v0' OR n.name = 'v1' ... RETURN n
void or_filter(benchmark::State& bs, const Torvane* torvane, const char* key) {
  const auto terms = static_cast<std::size_t>(bs.range(0));
  std::string q = "MATCH (n:Person) WHERE ";
  for (std::size_t i = 0; i < terms; ++i)
    q.append(i ? " OR n." : "n.").append(key).append(" = 'v").append(std::to_string(i)).append("'");
  q += " RETURN n";
  std::size_t findings = 0;
  for (auto _ : bs) {
    auto r = torvane->validate(q);
    findings = r.diagnostics.size();
    benchmark::DoNotOptimize(r);
  }
  bs.SetComplexityN(bs.range(0));
  // Seconds per term, shown with an SI prefix (95n is 95 ns).
  bs.counters["s_per_term"] = benchmark::Counter(
      static_cast<double>(terms),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  bs.counters["findings"] = static_cast<double>(findings);
  bs.SetBytesProcessed(static_cast<std::int64_t>(bs.iterations() * q.size()));
}

Schema example_schema() {
  std::ifstream in(std::string(TORVANE_SOURCE_ROOT) + "/examples/schema.json");
  std::stringstream text;
  text << in.rdbuf();
  auto s = Schema::deserialize(text.str());
  if (!s.ok()) std::fprintf(stderr, "examples/schema.json: %s\n", s.error().c_str());
  return s.ok() ? std::move(*s) : Schema{};
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path dir = torvane::testing::corpus_dir_from_args(argc, argv);
  const auto files = torvane::testing::corpus_files_or_report(dir);
  if (files.empty()) return 1;
  torvane::testing::CorpusSchemas schemas(dir, example_schema());
  const Torvane example(*schemas.find(""));
  for (const auto& [name, key] : {std::pair{"or_filter", "name"}, {"or_filter_misspelt", "nmae"}}) {
    benchmark::RegisterBenchmark(name, or_filter, &example, key)
        ->Arg(1'000)
        ->Arg(1'200)
        ->Arg(10'000)
        ->Arg(100'000)
        ->Complexity(benchmark::oN)
        ->Unit(benchmark::kMillisecond);
  }
  std::map<const Schema*, Torvane> own;  // one validator per schema, as a caller keeps them
  static std::deque<Job> jobs;
  static std::deque<ParsedJob> parsed_jobs;
  for (const auto& f : files) {
    Job& by_database = jobs.emplace_back();
    Job& by_example = jobs.emplace_back();
    for (CorpusQuery& q : schemas.read(f)) {
      auto it = own.try_emplace(q.schema, *q.schema).first;
      by_database.validators.push_back(&it->second);
      by_example.validators.push_back(&example);
      by_database.queries.push_back(q.query);
      by_example.queries.push_back(std::move(q.query));
    }
    const std::string stem = f.stem().string();
    benchmark::RegisterBenchmark(("validate/" + stem + "/own_schema").c_str(), validate_all,
                                 &by_database)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("validate/" + stem + "/example_schema").c_str(), validate_all,
                                 &by_example)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("checks/" + stem + "/own_schema").c_str(), check_all,
                                 &parsed_jobs.emplace_back(parsed(by_database)))
        ->Unit(benchmark::kMillisecond);
  }
  return torvane::testing::run_benchmarks(argc, argv);
}
