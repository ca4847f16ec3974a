#include "debug_str.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <cstdio>

namespace torvane {

namespace {

// Controls, formats, surrogates, private use, unassigned, separators other
// than the space, and combining marks that would join the quote.
bool shown_escaped(UChar32 c) {
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    case U_SPACE_SEPARATOR:
      return c != ' ';
    default:
      return u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND) != 0;
  }
}

}  // namespace

bool append_debug_str(std::string& out, std::string_view s) {
  out += '"';
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
  const auto n = static_cast<std::int32_t>(s.size());
  std::int32_t i = 0;
  while (i < n) {
    std::uint8_t b = bytes[i];
    // Printable ASCII other than the two escaped characters goes as it is.
    if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    std::int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(bytes, i, n, c);
    switch (c) {
      case 0: out += "\\0"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case '\\': out += "\\\\"; continue;
      case '"': out += "\\\""; continue;
      default: break;
    }
    if (c < 0) return false;
    if (shown_escaped(c)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
      out += buf;
    } else {
      out.append(s.data() + start, static_cast<std::size_t>(i - start));
    }
  }
  out += '"';
  return true;
}

}  // namespace torvane
