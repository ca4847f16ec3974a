// The two parse entry points on arbitrary UTF-8 text: they agree on whether a
// text parses and on the error they report.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_common.hpp"
#include "parser/parse.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!torvane::fuzz::valid_utf8(text)) return 0;

  auto plain = torvane::parser::parse(text);
  auto detail = torvane::parser::parse_with_detail(text);
  FUZZ_CHECK(plain.ok() == detail.ok(), text);
  if (plain.ok()) return 0;

  const torvane::CypherError& e = plain.error();
  const torvane::ParseErrorDetail& d = detail.error();
  FUZZ_CHECK(e.kind == torvane::CypherError::Kind::ParseError, text);
  if (d.position) {
    // A grammar failure: the same multi-line text, at a position inside the text.
    FUZZ_CHECK(e.message == d.message, d.message);
    FUZZ_CHECK(d.position->first >= 1 && d.position->second >= 1, d.message);
    FUZZ_CHECK(d.message.find("\n") != std::string::npos, d.message);
  } else {
    FUZZ_CHECK(d.message == e.display(), d.message);
  }
  return 0;
}
