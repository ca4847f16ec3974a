// The two parse entry points on arbitrary UTF-8 text, on a worker-sized stack.
// They agree on whether a text parses and on the error they report. A tree that
// builds is walked whole (its text form), copies to an equal tree, and is the
// same tree when blanks and comments follow the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_common.hpp"
#include "parser/parse.hpp"
#include "tree_dump.hpp"

namespace {

void check(std::string_view text) {
  auto plain = torvane::parser::parse(text);
  auto detail = torvane::parser::parse_with_detail(text);
  FUZZ_CHECK(plain.ok() == detail.ok(), text);
  if (plain.ok()) {
    const std::string tree = torvane::test::dump(*plain);
    FUZZ_CHECK(torvane::test::dump(*detail) == tree, tree);
    const torvane::parser::ast::CypherQuery copy = *plain;
    FUZZ_CHECK(torvane::test::dump(copy) == tree, tree);
    // A line feed ends a trailing line comment; what follows is only skipped.
    auto padded = torvane::parser::parse(std::string(text) + "\n /* end */ // x");
    FUZZ_CHECK(padded.ok(), text);
    FUZZ_CHECK(torvane::test::dump(*padded) == tree, tree);
    return;
  }

  const torvane::CypherError& e = plain.error();
  const torvane::ParseErrorDetail& d = detail.error();
  FUZZ_CHECK(e.kind == torvane::CypherError::Kind::ParseError, text);
  if (d.position) {
    // A grammar failure: the same multi-line text, at a position inside the text.
    FUZZ_CHECK(e.message == d.message, d.message);
    FUZZ_CHECK(d.position->first >= 1 && d.position->second >= 1, d.message);
    const auto lines = 1 + std::count(text.begin(), text.end(), '\n');
    FUZZ_CHECK(d.position->first <= static_cast<std::size_t>(lines), d.message);
    FUZZ_CHECK(d.message.find('\n') != std::string::npos, d.message);
  } else {
    FUZZ_CHECK(d.message == e.display(), d.message);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return torvane::fuzz::run_on_text(data, size, check);
}
