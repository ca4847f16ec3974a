#pragma once
// Helpers shared by the fuzz targets.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "schema/schema.hpp"

namespace torvane::fuzz {

// Python hands the core only well-formed UTF-8, so the targets skip anything else.
inline bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

// Stops the run with a readable reason; libFuzzer saves the input.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "invariant broken: %s\n%.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

#define FUZZ_CHECK(cond, detail) \
  do {                           \
    if (!(cond)) ::torvane::fuzz::fail(#cond, detail); \
  } while (0)

// The content of a schema, independent of hash order: sorted labels with their
// sorted properties, then sorted types with endpoints and sorted properties.
inline std::string canonical(const schema::Schema& s) {
  std::string out;
  for (std::string_view label : s.node_labels()) {
    out.append("N ").append(label).append(1, '\0');
    for (std::string_view p : s.node_properties(label)) out.append(p).append(1, '\0');
    out.append(1, '\n');
  }
  for (std::string_view type : s.rel_types()) {
    const auto ends = s.rel_src_tgt(type);
    out.append("R ").append(type).append(1, '\0');
    out.append(ends->first).append(1, '\0').append(ends->second).append(1, '\0');
    for (std::string_view p : s.rel_properties(type)) out.append(p).append(1, '\0');
    out.append(1, '\n');
  }
  return out;
}

}  // namespace torvane::fuzz
