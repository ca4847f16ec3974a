#pragma once
// The grammar's lexical pieces that code outside the rules reads text by: the
// blank and word characters, and the implicit skip of blanks and comments.
#include <cstddef>
#include <string_view>

namespace torvane::parser {

constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_word_char(char c) { return is_letter(c) || (c >= '0' && c <= '9') || c == '_'; }

// The offset after the blanks and comments that start at `p`, as the
// grammar's implicit skip, WHITESPACE* (COMMENT WHITESPACE*)*, reads them: an
// unclosed "/*" is no comment.
constexpr std::size_t after_blanks_and_comments(std::string_view s, std::size_t p) {
  const std::size_t n = s.size();
  for (;;) {
    while (p < n && is_blank(s[p])) ++p;
    if (p + 1 >= n || s[p] != '/') return p;
    if (s[p + 1] == '/') {
      const std::size_t nl = s.find('\n', p + 2);
      p = nl == std::string_view::npos ? n : nl + 1;
    } else if (s[p + 1] == '*') {
      const std::size_t close = s.find("*/", p + 2);
      if (close == std::string_view::npos) return p;
      p = close + 2;
    } else {
      return p;
    }
  }
}

}  // namespace torvane::parser
