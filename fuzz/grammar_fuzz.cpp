// The grammar against its plain engine on arbitrary UTF-8 text: the
// shortcuts (rules that fail at once, the operator levels run as one, names
// read without their inner attempts) and the remembered attempts must leave
// every verdict as the plain engine gives it, which runs every attempt: the
// same pairs, or the same report. The shortcuts alone, with the memo off,
// must also count as the plain engine does: the same rule attempts and the
// same deepest nesting, which the bounds on work and depth are read from.
// Texts are short and those the plain engine runs out of work on are left
// out of the comparison with the memo: it may read nested texts again at
// every level. All three fold stacks of expression rules, as large texts do,
// and the pairs read through every handle must be those of the unfolded tree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_common.hpp"
#include "parser/cypher_parser.hpp"
#include "parser/engine.hpp"

namespace {

using torvane::parser::CypherParser;
using torvane::parser::ParserState;
using torvane::parser::Rule;
using torvane::parser::Token;

constexpr std::size_t kMaxText = 512;

bool same(const Token& x, const Token& y) {
  return x.offset == y.offset && x.partner == y.partner && x.rule == y.rule &&
         x.closing == y.closing && x.inner == y.inner;
}

using torvane::parser::Pair;
using torvane::parser::Pairs;

// Every pair as rule, span, first child and the end of its lone-child walk.
void walk(Pairs pairs, std::string& out) {
  for (const Pair& p : pairs) {
    const Pair lone = p.descend_while([](Pair, Rule, Rule) { return true; });
    const auto child = p.first_child();
    out += static_cast<char>(p.as_rule());
    out += std::to_string(p.start()) + ',' + std::to_string(p.end()) + ',';
    out += static_cast<char>(child ? child->as_rule() : Rule::count);
    out += static_cast<char>(lone.as_rule());
    out += '(';
    walk(p.into_inner(), out);
    out += ')';
  }
}

void check(std::string_view text) {
  if (text.size() > kMaxText) return;
  thread_local ParserState fast, plain, shortcuts, whole;
  plain.set_memo(false);
  plain.set_shortcuts(false);
  shortcuts.set_memo(false);
  // These fold at any size, as large texts do; `whole` never folds.
  fast.set_fold_from(0);
  plain.set_fold_from(0);
  shortcuts.set_fold_from(0);
  whole.set_fold_from(UINT32_MAX);
  // The whole query, and an expression, which starts inside the operator levels.
  for (Rule start : {Rule::cypher, Rule::expression}) {
    auto p = CypherParser::parse_into(plain, start, text);
    auto c = CypherParser::parse_into(shortcuts, start, text);
    FUZZ_CHECK(c.ok() == p.ok(), text);
    FUZZ_CHECK(shortcuts.stopped() == plain.stopped(), text);
    FUZZ_CHECK(shortcuts.stopped_at() == plain.stopped_at(), text);
    FUZZ_CHECK(shortcuts.attempts() == plain.attempts(), text);
    FUZZ_CHECK(shortcuts.peak_depth() == plain.peak_depth(), text);
    if (p.ok()) {
      const auto a = shortcuts.tokens(), b = plain.tokens();
      FUZZ_CHECK(std::equal(a.begin(), a.end(), b.begin(), b.end(), same), text);
    } else {
      FUZZ_CHECK(c.error().display() == p.error().display(), text);
      FUZZ_CHECK(c.error().expected == p.error().expected, text);
    }
    if (plain.stopped() == ParserState::Stop::too_long) continue;
    auto f = CypherParser::parse_into(fast, start, text);
    FUZZ_CHECK(f.ok() == p.ok(), text);
    FUZZ_CHECK(fast.stopped() == plain.stopped(), text);
    if (p.ok()) {
      const auto a = fast.tokens(), b = plain.tokens();
      FUZZ_CHECK(std::equal(a.begin(), a.end(), b.begin(), b.end(), same), text);
      std::string folded, unfolded;
      walk(Pairs(a, text), folded);
      FUZZ_CHECK(CypherParser::parse_into(whole, start, text).ok(), text);
      walk(Pairs(whole.tokens(), text), unfolded);
      FUZZ_CHECK(folded == unfolded, text);
    } else {
      FUZZ_CHECK(f.error().position == p.error().position, text);
      FUZZ_CHECK(f.error().expected == p.error().expected, text);
      FUZZ_CHECK(f.error().display() == p.error().display(), text);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return torvane::fuzz::run_on_text(data, size, check);
}
