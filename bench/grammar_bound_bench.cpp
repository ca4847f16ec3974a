// Time to accept or reject the hardest 64 KiB texts known: nested shapes that
// alternatives read again at every level, at the deepest nesting allowed,
// either repeated as a list or filled with a long flat middle. Every one must
// take well under 50 ms.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "parser/cypher_parser.hpp"
#include "parser/engine.hpp"

namespace {

using torvane::parser::CypherParser;
using torvane::parser::ParserState;
using torvane::parser::Rule;

constexpr std::size_t kSize = 64 * 1024;

struct Shape {
  const char *name, *head, *open, *middle, *close;
};

const Shape kShapes[] = {
    {"list_comprehension", "RETURN ", "[x IN ", "x", "]"},
    {"filtered_comprehension", "RETURN ", "[x IN l WHERE ", "x", "]"},
    {"slice", "RETURN ", "x[", "1", "..]"},
    {"slice_of_comprehension", "RETURN ", "x[[x IN ", "1", "]..]"},
    {"reduce", "RETURN ", "reduce(a = 0, x IN ", "x", ")"},
    {"quantifier", "RETURN ", "any(x IN [y IN ", "x", "])"},
    {"map_of_comprehension", "RETURN ", "{a: [x IN ", "x", "]}"},
    {"foreach", "FOREACH (x IN l | ", "FOREACH (x IN l | ", "CREATE ()", ")"},
    {"exists", "RETURN ", "EXISTS { (n {a: ", "1", "}) }"},
    {"parentheses", "RETURN ", "(", "1", ")"},
};

enum class Ending { open, closed, one_short };

std::string nested(const Shape& s, int depth, Ending end, const std::string& middle) {
  std::string q = s.head;
  for (int i = 0; i < depth; ++i) q += s.open;
  q += middle;
  const int closes = end == Ending::open ? 0 : end == Ending::closed ? depth : depth - 1;
  for (int i = 0; i < closes; ++i) q += s.close;
  return q;
}

// The deepest nesting that is not rejected as too deep.
int deepest(const Shape& s, Ending end) {
  ParserState st;
  int lo = 1, hi = 1000;
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    (void)CypherParser::parse_into(st, Rule::cypher, nested(s, mid, end, s.middle));
    (st.stopped() == ParserState::Stop::too_deep ? hi : lo) = mid;
  }
  return lo;
}

void parse_text(benchmark::State& bs, const std::string* text) {
  ParserState st;
  std::uint64_t attempts = 0;
  for (auto _ : bs) {
    auto r = CypherParser::parse_into(st, Rule::cypher, *text);
    benchmark::DoNotOptimize(r);
    attempts = st.attempts();
  }
  bs.SetBytesProcessed(static_cast<std::int64_t>(bs.iterations() * text->size()));
  bs.counters["attempts_per_byte"] = static_cast<double>(attempts) / static_cast<double>(text->size());
}

}  // namespace

int main(int argc, char** argv) {
  static std::vector<std::string> texts;
  texts.reserve(std::size(kShapes) * 6);
  for (const Shape& s : kShapes) {
    for (const auto& [end, end_name] : {std::pair{Ending::open, "open"}, std::pair{Ending::closed, "closed"},
                                        std::pair{Ending::one_short, "one_short"}}) {
      const int depth = deepest(s, end);
      // the deepest text as a list of items
      const std::string one = nested(s, depth, end, s.middle);
      const std::string item = one.substr(std::string(s.head).size());
      std::string list = one;
      while (list.size() + 2 + item.size() <= kSize) list += ", " + item;
      texts.push_back(list);
      benchmark::RegisterBenchmark((std::string("bound/") + s.name + "/" + end_name + "/list").c_str(),
                                   parse_text, &texts.back())
          ->Unit(benchmark::kMillisecond);
      // the deepest text around a long flat middle
      std::string middle = s.middle;
      while (one.size() + middle.size() + 4 <= kSize) middle += " + 1";
      texts.push_back(nested(s, depth, end, middle));
      benchmark::RegisterBenchmark((std::string("bound/") + s.name + "/" + end_name + "/middle").c_str(),
                                   parse_text, &texts.back())
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
