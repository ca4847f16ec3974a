#pragma once
// Compact JSON output: no space or line break anywhere. The caller decides the
// order of members; the writer only places separators and escapes strings.
#include <cstdint>
#include <string>
#include <string_view>

namespace torvane::json {

// Appends `s` in double quotes. The quote and the backslash get a backslash,
// 0x08 0x09 0x0A 0x0C 0x0D are written \b \t \n \f \r, every other byte below
// 0x20 as \u00xx (lower-case hex), and every other byte as it is.
void write_string(std::string& out, std::string_view s);

// Appends to a caller's buffer, placing the commas and colons itself:
//   Writer w(out);
//   w.begin_object().key("nodes").begin_array().string("a").end_array().end_object();
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  Writer& begin_object() { return open('{'); }
  Writer& end_object() { return close('}'); }
  Writer& begin_array() { return open('['); }
  Writer& end_array() { return close(']'); }
  // A member's key; the next call writes its value.
  Writer& key(std::string_view k);
  Writer& string(std::string_view s);
  Writer& boolean(bool b);
  Writer& null();
  Writer& uint(std::uint64_t n);

 private:
  void separate() {
    if (need_comma_) out_.push_back(',');
  }
  Writer& open(char c) {
    separate();
    out_.push_back(c);
    need_comma_ = false;
    return *this;
  }
  Writer& close(char c) {
    out_.push_back(c);
    need_comma_ = true;
    return *this;
  }

  std::string& out_;
  bool need_comma_ = false;  // a value was written at this level
};

}  // namespace torvane::json
