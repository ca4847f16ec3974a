#include "parser/syntax_error.hpp"

#include <algorithm>

#include "parser/engine.hpp"

namespace torvane::parser {
namespace {

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

// Sets line, column and line text of `e` from its position.
void locate(SyntaxError& e, std::string_view text) {
  const std::size_t pos = std::min<std::size_t>(e.position, text.size());
  std::uint32_t line = 1, column = 1;
  for (std::size_t i = 0; i < pos;) {
    const char c = text[i];
    if (c == '\r' && i + 1 < pos && text[i + 1] == '\n') {
      ++line, column = 1, i += 2;
    } else if (c == '\n') {
      ++line, column = 1, ++i;
    } else {
      ++column, ++i;
      while (i < pos && is_continuation(text[i])) ++i;
    }
  }
  e.line = line;
  e.column = column;

  const std::size_t nl_before = pos == 0 ? std::string_view::npos : text.rfind('\n', pos - 1);
  const std::size_t start = nl_before == std::string_view::npos ? 0 : nl_before + 1;
  const std::size_t nl_after = text.find('\n', pos);
  const std::size_t end = nl_after == std::string_view::npos ? text.size() : nl_after;
  e.line_text.assign(text.substr(start, end - start));
  std::erase(e.line_text, '\r');
}

}  // namespace

SyntaxError make_syntax_error(std::string_view text, std::uint32_t position, std::vector<Rule> expected) {
  std::sort(expected.begin(), expected.end());
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  SyntaxError e{position, std::move(expected), 1, 1, {}, "expected "};
  const std::size_t n = e.expected.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) e.message += n == 2 ? " or " : i + 1 == n ? ", or " : ", ";
    e.message += rule_name(e.expected[i]);
  }
  locate(e, text);
  return e;
}

SyntaxError make_nesting_error(std::string_view text, std::uint32_t position) {
  SyntaxError e{position, {}, 1, 1, {}, {}};
  e.message = "query nested too deeply (more than " + std::to_string(kMaxRuleDepth) +
              " nested grammar rules)";
  locate(e, text);
  return e;
}

SyntaxError make_work_error(std::string_view text, std::uint32_t position) {
  SyntaxError e{position, {}, 1, 1, {}, {}};
  e.message = "query too complex to parse (more than " + std::to_string(kBaseRuleAttempts) +
              " grammar rule attempts plus " + std::to_string(kRuleAttemptsPerByte) + " per byte)";
  locate(e, text);
  return e;
}

std::string SyntaxError::display() const {
  const std::string num = std::to_string(line);
  const std::string gutter(num.size(), ' ');
  std::string caret;
  std::uint32_t taken = 0;
  for (std::size_t i = 0; i < line_text.size() && taken + 1 < column; ++taken) {
    caret.push_back(line_text[i] == '\t' ? '\t' : ' ');
    ++i;
    while (i < line_text.size() && is_continuation(line_text[i])) ++i;
  }
  caret += "^---";

  std::string out;
  out.reserve(64 + 2 * line_text.size() + message.size());
  out += gutter + "--> " + num + ":" + std::to_string(column) + "\n";
  out += gutter + " |\n";
  out += num + " | " + line_text + "\n";
  out += gutter + " | " + caret + "\n";
  out += gutter + " |\n";
  out += gutter + " = " + message;
  return out;
}

}  // namespace torvane::parser
