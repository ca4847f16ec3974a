#include "parser/builder_internal.hpp"

#include <algorithm>

namespace torvane::parser::builder {

namespace {

// Unicode White_Space.
constexpr bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Decodes the UTF-8 character of `len` bytes at `s` (the text is valid UTF-8).
char32_t decode(const char* s, std::size_t len) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (len == 1) return b0;
  char32_t c = b0 & (0x7Fu >> len);
  for (std::size_t i = 1; i < len; ++i) c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3Fu);
  return c;
}

std::size_t utf8_length(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

}  // namespace

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = ascii_upper(c);
  return u;
}

// Removes leading and trailing White_Space characters.
std::string_view trim(std::string_view s) {
  while (!s.empty()) {
    const std::size_t len = std::min(utf8_length(static_cast<unsigned char>(s[0])), s.size());
    if (!is_white_space(decode(s.data(), len))) break;
    s.remove_prefix(len);
  }
  while (!s.empty()) {
    std::size_t start = s.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0u) == 0x80u) --start;
    if (!is_white_space(decode(s.data() + start, s.size() - start))) break;
    s.remove_suffix(s.size() - start);
  }
  return s;
}

// Whether `word` occurs in `s`, ASCII letters in either case.
bool contains_word(std::string_view s, std::string_view word) {
  for (std::size_t i = 0; i + word.size() <= s.size(); ++i)
    if (starts_with_word(s.substr(i), word)) return true;
  return false;
}

}  // namespace torvane::parser::builder
