// The grammar against its plain engine on arbitrary UTF-8 text: the
// shortcuts (rules that fail at once, the operator levels run as one, names
// read without their inner attempts) and the remembered attempts must leave
// every verdict as the plain engine gives it, which runs every attempt: the
// same pairs, or the same report. Texts are short and those the plain engine
// runs out of work on are left out: it may read nested texts again at every
// level.
#include <algorithm>
#include <cstddef>
#include <cstdint>
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

void check(std::string_view text) {
  if (text.size() > kMaxText) return;
  thread_local ParserState fast, plain;
  plain.set_memo(false);
  // Both fold at any size, as large texts do.
  fast.set_fold_from(0);
  plain.set_fold_from(0);
  // The whole query, and an expression, which starts inside the operator levels.
  for (Rule start : {Rule::cypher, Rule::expression}) {
    auto p = CypherParser::parse_into(plain, start, text);
    if (plain.stopped() == ParserState::Stop::too_long) continue;
    auto f = CypherParser::parse_into(fast, start, text);
    FUZZ_CHECK(f.ok() == p.ok(), text);
    FUZZ_CHECK(fast.stopped() == plain.stopped(), text);
    if (p.ok()) {
      const auto a = fast.tokens(), b = plain.tokens();
      FUZZ_CHECK(std::equal(a.begin(), a.end(), b.begin(), b.end(), same), text);
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
