#pragma once
// The corrected query the plain way, for tests and the fuzz target to hold
// the real one to: the distinct (original, replacement) pairs, longest
// original first, each replacing its whole names outside strings and comments
// in the text the previous ones made.
#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace torvane::testing {

inline bool name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The length of the string, comment or backticked name that starts at `i` (0 for none).
inline std::size_t opaque(const std::string& t, std::size_t i) {
  const char c = t[i];
  if (c == '\'' || c == '"' || c == '`') {
    const std::size_t close = t.find(c, i + 1);
    return close == std::string::npos ? 0 : close + 1 - i;
  }
  if (c == '/' && i + 1 < t.size() && t[i + 1] == '/') {
    const std::size_t eol = t.find('\n', i + 2);
    return (eol == std::string::npos ? t.size() : eol + 1) - i;
  }
  if (c == '/' && i + 1 < t.size() && t[i + 1] == '*') {
    const std::size_t close = t.find("*/", i + 2);
    return close == std::string::npos ? 0 : close + 2 - i;
  }
  return 0;
}

// One pair over the text. A label or type original (":Name") may follow a name character.
inline std::string one_pass(const std::string& t, const std::string& from, const std::string& to) {
  if (from.empty()) return t;
  const bool key = from[0] != ':';
  std::string out;
  std::size_t i = 0;
  while (i < t.size()) {
    const std::size_t end = i + from.size();
    if (t.compare(i, from.size(), from) == 0 && (end == t.size() || !name_char(t[end])) &&
        (!key || i == 0 || !name_char(t[i - 1]))) {
      out += to;
      i = end;
      continue;
    }
    const std::size_t skip = std::max<std::size_t>(opaque(t, i), 1);
    out.append(t, i, skip);
    i += skip;
  }
  return out;
}

inline std::string pass_by_pass(std::string text,
                                const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<std::pair<std::string, std::string>> unique;
  for (const auto& p : pairs)
    if (std::find(unique.begin(), unique.end(), p) == unique.end()) unique.push_back(p);
  std::stable_sort(unique.begin(), unique.end(),
                   [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  for (const auto& [from, to] : unique) text = one_pass(text, from, to);
  return text;
}

}  // namespace torvane::testing
