#pragma once
// ASCII case folding, for words the grammar keeps ASCII (keywords, function
// names) and for the ASCII fast path of full lower-casing.
#include <algorithm>
#include <string_view>

namespace torvane {

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Equal once ASCII letters are folded.
constexpr bool ascii_iequal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_lower(x) == ascii_lower(y);
         });
}

}  // namespace torvane
