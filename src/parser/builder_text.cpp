#include "parser/builder_internal.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace torvane::parser::builder {

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = ascii_upper(c);
  return u;
}

// Removes leading and trailing White_Space characters.
std::string_view trim(std::string_view s) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
  const auto n = static_cast<std::int32_t>(s.size());
  std::int32_t start = 0, end = n;
  for (std::int32_t next = 0; start < n; start = next) {
    UChar32 c;
    U8_NEXT(bytes, next, n, c);
    if (!u_isUWhiteSpace(c)) break;
  }
  for (std::int32_t prev = n; end > start; end = prev) {
    UChar32 c;
    U8_PREV(bytes, start, prev, c);
    if (!u_isUWhiteSpace(c)) break;
  }
  return s.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

// Whether `word` occurs in `s`, ASCII letters in either case.
bool contains_word(std::string_view s, std::string_view word) {
  for (std::size_t i = 0; i + word.size() <= s.size(); ++i)
    if (starts_with_word(s.substr(i), word)) return true;
  return false;
}

}  // namespace torvane::parser::builder
