// Memory and hashing under load, single thread.
//   Batch/100000      100,000 corpus queries validated into one result list, as
//                     a batch holds them; peak RSS against the size of texts and
//                     results, and RSS growth after repeating the batch.
//   LargeQuery/<shape>/KiB:<n> one query of 16 KiB to 8 MiB of one shape
//                     (chains of operators, lists of small expressions,
//                     comprehensions nested to the nesting bound, findings in
//                     every few bytes, patterns, maps, strings: the shapes of
//                     bench/python_bench.py's large-query figures, same names
//                     and texts); peak RSS per byte of query beyond the query
//                     string, of the findings as the module makes them and of
//                     Torvane::validate's full result, and the peaks of the
//                     grammar alone, the parse and the checks. What earlier
//                     queries left in the allocator raises a figure by up to a
//                     half: a shape's own figures come from a run of it alone
//                     (--benchmark_filter=LargeQuery/<shape>/KiB:<n>/), as
//                     python_bench.py runs each query in a process of its own.
//   MapLiteral/<n>    RETURN {k0: v0, ...} with n entries, every value unbound:
//                     time should grow linearly in n (keyed hashing keeps
//                     chosen keys from colliding), reported as BigO.
//   Scope/<shape>/<KiB> one query of 64 KiB or 1 MiB that binds a variable to
//                     many labels or types and then binds it again, reads its
//                     properties, aliases it, rebinds it in FOREACH or passes
//                     it through WITH clauses, against a schema of 300 labels
//                     and types; time and peak RSS per byte of query, both of
//                     which should not depend on the size.
//   Linear/<shape>/<n> one query of n repetitions of a construct (map entries,
//                     list elements, MATCH clauses, UNION parts, labels,
//                     misspelt names with a fix each, ...), validated; the
//                     counters give the nanoseconds per repetition of each
//                     stage: grammar (parser state kept), parse (grammar and
//                     tree, buffers given back as validate does), checks and
//                     result (validate_parsed), fix (the corrected query
//                     alone). Each should stay flat as n grows.
// Usage: memory_bench [benchmark flags]; the corpus folder is $TORVANE_CORPUS,
// else ../shared/corpus beside the repository.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "corpus.hpp"
#include "parser/cypher_parser.hpp"
#include "parser/engine.hpp"
#include "parser/parse.hpp"
#include "schema/schema.hpp"
#include "validator/corrected_query.hpp"
#include "validator/semantic.hpp"
#include "validator/torvane.hpp"

namespace {

using torvane::validator::Torvane;
using torvane::validator::ValidationResult;

// Resident and peak resident set size of this process, in KiB.
struct Rss {
  double now_kb = 0, peak_kb = 0;
};

Rss read_rss() {
  Rss r;
  std::ifstream status("/proc/self/status");
  std::string key;
  double value;
  while (status >> key) {
    if (key == "VmRSS:" && status >> value) r.now_kb = value;
    if (key == "VmHWM:" && status >> value) r.peak_kb = value;
  }
  return r;
}

// Hands freed memory back to the system, then sets the peak back to the
// current RSS, so the next peak is the next step's own and not hidden by
// memory the allocator kept from an earlier step.
void reset_peak() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
  std::ofstream("/proc/self/clear_refs") << "5";
}

Torvane example_validator() {
  std::ifstream in(std::string(TORVANE_SOURCE_ROOT) + "/examples/schema.json");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto schema = torvane::schema::Schema::deserialize(text);
  return Torvane(schema.ok() ? std::move(*schema) : torvane::schema::Schema{});
}

std::size_t result_bytes(const ValidationResult& r) {
  std::size_t n = sizeof r;
  for (const auto* list : {&r.errors, &r.syntax_errors, &r.semantic_errors, &r.warnings})
    for (const std::string& s : *list) n += sizeof s + s.capacity();
  for (const auto& d : r.diagnostics) n += sizeof d + d.message.capacity();
  if (r.fixed_query) n += r.fixed_query->capacity();
  return n;
}

std::vector<std::string> batch_queries(std::size_t count) {
  std::vector<std::string> corpus;
  for (const auto& f : torvane::testing::corpus_files(torvane::testing::corpus_dir()))
    for (auto& q : torvane::testing::read_queries(f)) corpus.push_back(std::move(q));
  std::vector<std::string> out;
  if (corpus.empty()) return out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) out.push_back(corpus[i % corpus.size()]);
  return out;
}

void Batch(benchmark::State& bs) {
  const Torvane torvane = example_validator();
  const auto queries = batch_queries(static_cast<std::size_t>(bs.range(0)));
  if (queries.empty()) {
    bs.SkipWithError("no corpus");
    return;
  }
  std::size_t text_bytes = 0;
  for (const auto& q : queries) text_bytes += q.size();
  std::size_t kept_bytes = 0;
  double first_round_kb = 0, last_round_kb = 0, peak_growth_kb = 0;
  int rounds = 0;
  for (auto _ : bs) {
    reset_peak();
    const Rss before = read_rss();
    std::vector<ValidationResult> results;
    results.reserve(queries.size());
    for (const auto& q : queries) results.push_back(torvane.validate(q));
    const Rss after = read_rss();
    kept_bytes = 0;
    for (const auto& r : results) kept_bytes += result_bytes(r);
    peak_growth_kb = after.peak_kb - before.now_kb;
    benchmark::DoNotOptimize(results);
    results = {};
    // What stays behind once the results are gone.
    reset_peak();
    const double left_kb = read_rss().now_kb;
    if (rounds++ == 0) first_round_kb = left_kb;
    last_round_kb = left_kb;
  }
  bs.SetItemsProcessed(static_cast<std::int64_t>(bs.iterations() * queries.size()));
  bs.counters["text_MiB"] = static_cast<double>(text_bytes) / (1 << 20);
  bs.counters["results_MiB"] = static_cast<double>(kept_bytes) / (1 << 20);
  bs.counters["peak_growth_MiB"] = peak_growth_kb / 1024;
  bs.counters["rss_after_rounds_growth_KiB"] = last_round_kb - first_round_kb;
  bs.counters["rounds"] = rounds;
}
BENCHMARK(Batch)->Arg(100'000)->Iterations(4)->Unit(benchmark::kMillisecond);

// ---- Memory of one large query ----

// Copies of `item` joined by `separator` between `head` and `tail`: the
// fewest that make at least `size` bytes.
std::string repeated(std::string_view head, std::string_view item, std::string_view separator,
                     std::string_view tail, std::size_t size) {
  std::string q(head);
  for (bool first = true; q.size() + tail.size() < size; first = false)
    (first ? q : q += separator) += item;
  return q += tail;
}

// `inner` wrapped `depth` times in `before` ... `after`.
std::string nested(std::string_view before, std::string_view inner, std::string_view after,
                   int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += before;
  s += inner;
  for (int i = 0; i < depth; ++i) s += after;
  return s;
}

// The shapes of bench/python_bench.py's LARGE_SHAPES, under the same names:
// chains of operators, lists of small expressions, comprehensions and other
// brackets nested as deep as the nesting bound lets them be inside a list,
// patterns, maps and strings; among them the most memory per byte known.
struct LargeShape {
  const char* name;
  std::string (*make)(std::size_t size);
};

const LargeShape kLargeShapes[] = {
    {"add_chain", [](std::size_t n) { return repeated("RETURN 1", "+1", "", "", n); }},
    {"mul_chain", [](std::size_t n) { return repeated("RETURN 2", "*2", "", "", n); }},
    {"mixed_chain", [](std::size_t n) { return repeated("RETURN 1", "+2*3-4/5%6^7", "", "", n); }},
    {"comparison_chain",
     [](std::size_t n) { return repeated("RETURN 1<2", " AND 1<2", "", "", n); }},
    {"or_chain", [](std::size_t n) { return repeated("RETURN x", " OR x", "", "", n); }},
    {"boolean_chain", [](std::size_t n) { return repeated("RETURN true", " OR true", "", "", n); }},
    {"where_chain",
     [](std::size_t n) {
       return repeated("MATCH (n:Person) WHERE n.name=1", " AND n.name=1", "", "", n);
     }},
    {"property_chain",
     [](std::size_t n) { return repeated("MATCH (n) RETURN n", ".a", "", "", n); }},
    {"subscript_chain",
     [](std::size_t n) { return repeated("WITH [1] AS n RETURN n", "[0]", "", "", n); }},
    {"numbers", [](std::size_t n) { return repeated("RETURN [", "1", ",", "]", n); }},
    {"negatives", [](std::size_t n) { return repeated("RETURN [", "-1", ",", "]", n); }},
    {"sums", [](std::size_t n) { return repeated("RETURN [", "1+1", ",", "]", n); }},
    {"variables", [](std::size_t n) { return repeated("RETURN [", "a", ",", "]", n); }},
    {"negated_variables", [](std::size_t n) { return repeated("RETURN [", "-a", ",", "]", n); }},
    {"return_variables", [](std::size_t n) { return repeated("RETURN ", "a", ",", "", n); }},
    {"properties",
     [](std::size_t n) { return repeated("MATCH (n) RETURN [", "n.a", ",", "]", n); }},
    {"subscripts", [](std::size_t n) { return repeated("RETURN [", "l[0][0]", ",", "]", n); }},
    {"calls", [](std::size_t n) { return repeated("RETURN [", "f(1)", ",", "]", n); }},
    {"comprehensions",
     [](std::size_t n) { return repeated("RETURN [", "[x IN l|x]", ",", "]", n); }},
    {"comprehensions_nested",
     [](std::size_t n) {
       return repeated("RETURN [", nested("[x IN ", "x", " | x]", 59), ",", "]", n);
     }},
    {"comprehensions_filtered",
     [](std::size_t n) {
       return repeated("RETURN [", nested("[x IN ", "x", " WHERE x | x]", 40), ",", "]", n);
     }},
    {"sums_nested",
     [](std::size_t n) { return repeated("RETURN [", nested("(", "1", "+1)", 50), ",", "]", n); }},
    {"lists_nested",
     [](std::size_t n) { return repeated("RETURN [", nested("[", "1", "]", 60), ",", "]", n); }},
    {"maps_nested",
     [](std::size_t n) { return repeated("RETURN [", nested("{a:", "1", "}", 40), ",", "]", n); }},
    {"strings", [](std::size_t n) { return repeated("RETURN [", "'name'", ", ", "]", n); }},
    {"string", [](std::size_t n) { return "RETURN '" + std::string(n, 'x') + "'"; }},
    {"labels", [](std::size_t n) { return repeated("MATCH (n", ":L", "", ") RETURN n", n); }},
    {"types", [](std::size_t n) { return repeated("MATCH ()-[:T", "|T", "", "]-() RETURN 1", n); }},
    {"parts",
     [](std::size_t n) {
       std::string q = "MATCH (a0:Persn)";
       for (int i = 1; q.size() < n; ++i) q += ", (a" + std::to_string(i) + ":Persn)";
       return q += " RETURN a0";
     }},
    {"relationships",
     [](std::size_t n) { return repeated("MATCH ()", "--()", "", " RETURN 1", n); }},
    {"set_items", [](std::size_t n) { return repeated("MATCH (n) SET ", "a.b=1", ",", "", n); }},
    {"map",
     [](std::size_t n) {
       std::string q = "RETURN {k0:1";
       for (int i = 1; q.size() < n; ++i) q += ",k" + std::to_string(i) + ":1";
       return q += "}";
     }},
};

void LargeQuery(benchmark::State& bs, const LargeShape* shape) {
  const Torvane torvane = example_validator();
  const std::string q = shape->make(static_cast<std::size_t>(bs.range(0)) << 10);
  const auto per_byte = [&](double kb) { return kb * 1024 / static_cast<double>(q.size()); };
  double peak_growth_kb = 0;
  std::size_t findings = 0;
  for (auto _ : bs) {
    // The findings alone, as the module's Torvane.validate makes them.
    reset_peak();
    const Rss before = read_rss();
    const torvane::validator::Findings r = torvane.findings(q);
    peak_growth_kb = read_rss().peak_kb - before.now_kb;
    findings = r.diagnostics.size();
    for (const auto& d : r.diagnostics)
      if (d.code == torvane::diagnostics::DiagnosticCode::ParseError)
        bs.SkipWithError("syntax error");
    benchmark::DoNotOptimize(r);
  }
  bs.SetBytesProcessed(static_cast<std::int64_t>(bs.iterations() * q.size()));
  bs.counters["query_MiB"] = static_cast<double>(q.size()) / (1 << 20);
  bs.counters["peak_growth_MiB"] = peak_growth_kb / 1024;
  bs.counters["peak_per_query_byte"] = per_byte(peak_growth_kb);
  bs.counters["findings"] = static_cast<double>(findings);
  // Torvane::validate, whose result spells out the message lists too.
  reset_peak();
  Rss before = read_rss();
  {
    const ValidationResult r = torvane.validate(q);
    bs.counters["validate_peak_per_byte"] = per_byte(read_rss().peak_kb - before.now_kb);
    benchmark::DoNotOptimize(r);
  }
  // Where the peak comes from: the grammar alone (its parse tree and memo),
  // the parse (that, then the syntax tree) and the checks on the finished
  // tree (the tree, findings and result).
  reset_peak();
  before = read_rss();
  {
    torvane::parser::ParserState state;
    auto ok = torvane::parser::CypherParser::parse_into(state, torvane::parser::Rule::cypher, q);
    benchmark::DoNotOptimize(ok);
    bs.counters["grammar_peak_per_byte"] = per_byte(read_rss().peak_kb - before.now_kb);
  }
  reset_peak();
  before = read_rss();
  auto tree = torvane::parser::parse(q);
  bs.counters["parse_peak_per_byte"] = per_byte(read_rss().peak_kb - before.now_kb);
  if (!tree) return;
  reset_peak();
  before = read_rss();
  const ValidationResult r = torvane.validate_parsed(q, *tree);
  bs.counters["checks_peak_per_byte"] = per_byte(read_rss().peak_kb - before.now_kb);
  benchmark::DoNotOptimize(r);
}

void large_queries() {
  for (const LargeShape& shape : kLargeShapes)
    benchmark::RegisterBenchmark((std::string("LargeQuery/") + shape.name).c_str(), LargeQuery,
                                 &shape)
        ->ArgName("KiB")
        ->Arg(16)
        ->Arg(64)
        ->Arg(1024)
        ->Arg(8192)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}

void MapLiteral(benchmark::State& bs) {
  const Torvane torvane = example_validator();
  const auto n = bs.range(0);
  std::string q = "RETURN {";
  for (std::int64_t i = 0; i < n; ++i)
    q += (i ? ", k" : "k") + std::to_string(i) + ": v" + std::to_string(i);
  q += "}";
  for (auto _ : bs) {
    const ValidationResult r = torvane.validate(q);
    if (r.diagnostics.size() != static_cast<std::size_t>(n)) bs.SkipWithError("findings lost");
    benchmark::DoNotOptimize(r);
  }
  bs.SetComplexityN(n);
}
BENCHMARK(MapLiteral)
    ->Arg(10'000)
    ->Arg(30'000)
    ->Arg(100'000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

// ---- The scope's labels and types ----

// L0..L299 and T0..T299 (Ti from Li to Li), each with the property `a`.
Torvane many_names_validator() {
  torvane::schema::Schema s;
  for (int i = 0; i < 300; ++i) {
    const std::string n = std::to_string(i);
    s.nodes["L" + n] = torvane::HashSet{"a"};
    s.relationships["T" + n] = torvane::schema::RelationshipDef{"L" + n, "L" + n, {"a"}};
  }
  return Torvane(std::move(s));
}

// The query of `shape` with k names (labels, types, repetitions).
std::string scope_query(int shape, std::int64_t k) {
  const auto repeat = [k](const std::string& head, const std::string& sep, auto item) {
    std::string q = head;
    for (std::int64_t i = 0; i < k; ++i) (i ? q += sep : q) += item(i);
    return q;
  };
  const std::string labels =
      repeat("", "", [](std::int64_t i) { return ":L" + std::to_string(i); });
  const std::string n = "MATCH (n" + labels + ") ";
  switch (shape) {
    case 0:  // bound again in each part
      return repeat("MATCH ", ", ",
                    [](std::int64_t i) { return "(n:L" + std::to_string(i) + ")"; }) +
             " RETURN n";
    case 1:  // bound again with all its labels
      return n + "MATCH (n" + labels + ") RETURN n";
    case 2:  // k accesses to k labels
      return n + repeat("RETURN ", ", ", [](std::int64_t) { return std::string("n.a"); });
    case 3:  // k accesses to k types
      return repeat("MATCH ()-[r:", "|", [](std::int64_t i) { return "T" + std::to_string(i); }) +
             "]->() " + repeat("RETURN ", ", ", [](std::int64_t) { return std::string("r.a"); });
    case 4:  // k aliases
      return n +
             repeat("WITH ", ", ", [](std::int64_t i) { return "n AS m" + std::to_string(i); }) +
             " RETURN 1";
    case 5:  // FOREACH rebinding k times
      return n +
             repeat("FOREACH (x IN [1] | CREATE ", ", ",
                    [](std::int64_t) { return std::string("(n)"); }) +
             ")";
    default:  // a chain of k WITH clauses
      return n + repeat("", " ", [](std::int64_t) { return std::string("WITH n"); }) + " RETURN n";
  }
}

// The largest k whose query fits in `bytes`.
std::string scope_query_of_size(int shape, std::size_t bytes) {
  std::int64_t lo = 1, hi = 2;
  while (scope_query(shape, hi).size() <= bytes) hi *= 2;
  while (lo + 1 < hi) {
    const std::int64_t mid = (lo + hi) / 2;
    (scope_query(shape, mid).size() <= bytes ? lo : hi) = mid;
  }
  return scope_query(shape, lo);
}

void ScopeShape(benchmark::State& bs, int shape) {
  const Torvane torvane = many_names_validator();
  const std::string q = scope_query_of_size(shape, static_cast<std::size_t>(bs.range(0)) << 10);
  double peak_growth_kb = 0;
  std::size_t findings = 0;
  for (auto _ : bs) {
    reset_peak();
    const Rss before = read_rss();
    const ValidationResult r = torvane.validate(q);
    peak_growth_kb = read_rss().peak_kb - before.now_kb;
    findings = r.diagnostics.size();
    benchmark::DoNotOptimize(r);
  }
  bs.SetBytesProcessed(static_cast<std::int64_t>(bs.iterations() * q.size()));
  bs.counters["peak_per_query_byte"] = peak_growth_kb * 1024 / static_cast<double>(q.size());
  bs.counters["findings"] = static_cast<double>(findings);
}

#define SCOPE(name, shape)                   \
  BENCHMARK_CAPTURE(ScopeShape, name, shape) \
      ->ArgName("KiB")                       \
      ->Arg(64)                              \
      ->Arg(1024)                            \
      ->Unit(benchmark::kMillisecond)
SCOPE(rebound_in_parts, 0);
SCOPE(rebound_with_labels, 1);
SCOPE(label_properties, 2);
SCOPE(type_properties, 3);
SCOPE(aliases, 4);
SCOPE(foreach_rebinding, 5);
SCOPE(with_chain, 6);

// ---- Time linear in the size of one construct ----

struct Shape {
  const char *head, *separator, *tail;
  std::string (*item)(std::int64_t i);
};

std::string num(std::int64_t i) { return std::to_string(i); }

// Distinct names within three edits of Person, Movie or Company, so each
// gets a fix of its own (140,000 of them).
std::string misspelt(std::int64_t i) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static constexpr const char* kStems[] = {"Per", "Mov", "Comp"};
  std::string s = kStems[i % 3];
  for (std::int64_t k = i / 3, n = 0; n < 3; ++n, k /= 36) s += kChars[k % 36];
  return s;
}

const Shape kMap{"RETURN {", ", ", "}",
                 [](std::int64_t i) { return "k" + num(i) + ": v" + num(i); }};
const Shape kList{"RETURN [", ", ", "]", num};
const Shape kWithList{"WITH [", ", ", "] AS l RETURN l", num};
const Shape kMatches{"", " ", " RETURN a0",
                     [](std::int64_t i) { return "MATCH (a" + num(i) + ":Person)"; }};
const Shape kUnions{"", " UNION ", "", [](std::int64_t i) { return "RETURN " + num(i) + " AS x"; }};
const Shape kLabels{"MATCH (n", "", ") RETURN n", [](std::int64_t i) { return ":L" + num(i); }};
const Shape kMisspelt{"MATCH (n", "", ") RETURN n",
                      [](std::int64_t i) { return ":" + misspelt(i); }};
const Shape kProperties{"MATCH (n:Person) RETURN ", ", ", "",
                        [](std::int64_t i) { return "n.nme" + num(i % 1000); }};
const Shape kChain{"MATCH (n:Person) RETURN n", "", "",
                   [](std::int64_t) { return std::string(".name"); }};
const Shape kString{"RETURN '", "", "'", [](std::int64_t) { return std::string("abcdefgh"); }};

void Linear(benchmark::State& bs, const Shape* shape) {
  const Torvane torvane = example_validator();
  const std::int64_t n = bs.range(0);
  std::string q = shape->head;
  for (std::int64_t i = 0; i < n; ++i) (i ? q += shape->separator : q) += shape->item(i);
  q += shape->tail;
  std::size_t findings = 0;
  for (auto _ : bs) {
    const ValidationResult r = torvane.validate(q);
    findings = r.diagnostics.size();
    benchmark::DoNotOptimize(r);
  }
  bs.SetComplexityN(n);
  const double items = static_cast<double>(n);
  bs.counters["bytes_per_item"] = static_cast<double>(q.size()) / items;
  bs.counters["findings"] = static_cast<double>(findings);
  // Each stage on its own, the best of three runs.
  const auto best_ns = [&](auto&& stage) {
    double best = 0;
    for (int run = 0; run < 3; ++run) {
      const auto start = std::chrono::steady_clock::now();
      stage();
      const double ns =
          std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
              .count();
      if (run == 0 || ns < best) best = ns;
    }
    return best / items;
  };
  torvane::parser::ParserState state;
  bs.counters["grammar_ns"] = best_ns([&] {
    auto ok = torvane::parser::CypherParser::parse_into(state, torvane::parser::Rule::cypher, q);
    benchmark::DoNotOptimize(ok);
  });
  bs.counters["parse_ns"] = best_ns([&] {
    auto tree = torvane::parser::parse(q);
    benchmark::DoNotOptimize(tree);
  });
  auto tree = torvane::parser::parse(q);
  if (!tree) return;  // a bound met: the text is refused as a whole
  ValidationResult r;
  bs.counters["checks_result_ns"] = best_ns([&] { r = torvane.validate_parsed(q, *tree); });
  // The findings with their subjects, which the result does not keep.
  torvane::validator::semantic::SemanticValidator checks(torvane.schema);
  checks.validate_query(*tree);
  bs.counters["fix_ns"] = best_ns([&] {
    auto fixed =
        torvane::validator::corrected_query(q, checks.diagnostics, checks.property_subjects);
    benchmark::DoNotOptimize(fixed);
  });
}

#define LINEAR(name, shape, largest)      \
  BENCHMARK_CAPTURE(Linear, name, &shape) \
      ->Arg(10'000)                       \
      ->Arg(30'000)                       \
      ->Arg(100'000)                      \
      ->Arg(largest)                      \
      ->Complexity(benchmark::oN)         \
      ->Unit(benchmark::kMillisecond)
LINEAR(map, kMap, 300'000);
LINEAR(list, kList, 300'000);
LINEAR(with_list, kWithList, 300'000);
LINEAR(matches, kMatches, 300'000);
LINEAR(unions, kUnions, 300'000);
LINEAR(labels, kLabels, 300'000);
LINEAR(misspelt, kMisspelt, 140'000);
LINEAR(properties, kProperties, 300'000);
LINEAR(chain, kChain, 300'000);
LINEAR(string, kString, 300'000);

}  // namespace

int main(int argc, char** argv) {
  large_queries();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
