#include "json/writer.hpp"

#include <array>
#include <charconv>

namespace torvane::json {
namespace {

// 0: as it is; 'u': \u00xx; otherwise the letter after the backslash.
constexpr std::array<char, 256> kEscape = [] {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\t'] = 't';
  t['\n'] = 'n';
  t['\f'] = 'f';
  t['\r'] = 'r';
  t['"'] = '"';
  t['\\'] = '\\';
  return t;
}();

}  // namespace

void write_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto byte = static_cast<unsigned char>(s[i]);
    const char esc = kEscape[byte];
    if (esc == 0) continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    if (esc == 'u') {
      const char u[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
      out.append(u, sizeof u);
    } else {
      out.push_back('\\');
      out.push_back(esc);
    }
  }
  out.append(s.data() + run, s.size() - run);
  out.push_back('"');
}

Writer& Writer::key(std::string_view k) {
  separate();
  write_string(out_, k);
  out_.push_back(':');
  need_comma_ = false;
  return *this;
}

Writer& Writer::string(std::string_view s) {
  separate();
  write_string(out_, s);
  need_comma_ = true;
  return *this;
}

Writer& Writer::boolean(bool b) {
  separate();
  out_.append(b ? "true" : "false");
  need_comma_ = true;
  return *this;
}

Writer& Writer::null() {
  separate();
  out_.append("null");
  need_comma_ = true;
  return *this;
}

Writer& Writer::uint(std::uint64_t n) {
  separate();
  char buf[20];
  auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
  out_.append(buf, end);
  need_comma_ = true;
  return *this;
}

}  // namespace torvane::json
