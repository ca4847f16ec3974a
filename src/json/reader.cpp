#include "json/reader.hpp"

#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <vector>

#include "debug_str.hpp"

namespace torvane::json {
namespace {

constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_ws(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Whether a number whose conversion left the range of double is too large
// (rather than too small): its decimal exponent, from the first non-zero
// digit, is positive.
bool overflows(std::string_view num) {
  std::size_t i = num[0] == '-' ? 1 : 0;
  long long e10 = 0;
  bool seen = false, fraction = false;
  for (; i < num.size() && num[i] != 'e' && num[i] != 'E'; ++i) {
    const char c = num[i];
    if (c == '.') {
      fraction = true;
      continue;
    }
    if (seen) {
      if (!fraction) ++e10;
    } else if (c != '0') {
      seen = true;
      if (!fraction) e10 = 1;
    } else if (fraction) {
      --e10;
    }
  }
  if (!seen) return false;
  if (i < num.size()) {
    ++i;
    const bool negative = num[i] == '-';
    if (num[i] == '-' || num[i] == '+') ++i;
    long long exp = 0;
    for (; i < num.size() && exp < 1'000'000'000; ++i) exp = exp * 10 + (num[i] - '0');
    e10 += negative ? -exp : exp;
  }
  return e10 > 0;
}

std::string float_text(double v) {
  char buf[32];
  auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
  std::string s(buf, end);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

}  // namespace

int Reader::peek() {
  while (pos_ < text_.size() && is_ws(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1;
}

bool Reader::fail_at(std::size_t pos, std::string message) {
  if (message_.empty()) {
    message_ = std::move(message);
    error_pos_ = pos;
  }
  return false;
}

bool Reader::fail_peek(std::string message) {
  return fail_at(pos_ < text_.size() ? pos_ + 1 : pos_, std::move(message));
}

bool Reader::fail_here(std::string message) { return fail_at(pos_, std::move(message)); }

bool Reader::fail_invalid_length(std::size_t found, std::string_view expected) {
  std::string m = "invalid length ";
  m += std::to_string(found);
  m += ", expected ";
  m += expected;
  return fail_here(std::move(m));
}

bool Reader::fail_unexpected(std::string_view expected) {
  std::string desc;
  switch (const int c = peek()) {
    case -1:
      return fail_peek("EOF while parsing a value");
    case 'n': case 't': case 'f': case '-': case '"':
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9':
      if (!scalar(c, &desc)) return false;
      break;
    case '[':
      desc = "sequence";  // described without being entered
      break;
    case '{':
      desc = "map";
      break;
    default:
      return fail_peek("expected value");
  }
  std::string m = "invalid type: ";
  m += desc;
  m += ", expected ";
  m += expected;
  return fail_here(std::move(m));
}

// Reads the null, boolean, number or string that the next byte `c` begins;
// with `description`, describes it as a type error names a value.
bool Reader::scalar(int c, std::string* description) {
  const auto word = [&](std::string_view rest, std::string_view desc) {
    ++pos_;
    if (!ident(rest)) return false;
    if (description != nullptr) *description = desc;
    return true;
  };
  switch (c) {
    case 'n': return word("ull", "null");
    case 't': return word("rue", "boolean `true`");
    case 'f': return word("alse", "boolean `false`");
    case '-': ++pos_; return number(true, description);
    case '"': {
      ++pos_;
      if (description == nullptr) return string_body(nullptr, Mode::Skip);
      std::string s;
      if (!string_body(&s, Mode::Keep)) return false;
      *description = "string ";
      append_debug_str(*description, s);  // cannot fail: every string read is well-formed
      return true;
    }
    default: return number(false, description);
  }
}

bool Reader::ident(std::string_view rest) {
  for (char expected : rest) {
    if (pos_ == text_.size()) return fail_here("EOF while parsing a value");
    if (text_[pos_++] != expected) return fail_here("expected ident");
  }
  return true;
}

// A number without fraction or exponent is an integer, described by its
// digits as written, however many; every other number is read as a double.
// "Too large to represent" means beyond the largest finite double; numbers
// too small for a double become zero. Without `description` only the syntax
// is checked.
bool Reader::number(bool negative, std::string* description) {
  const std::size_t start = negative ? pos_ - 1 : pos_;
  const auto at = [&](std::size_t i) { return i < text_.size() ? text_[i] : '\0'; };
  if (pos_ == text_.size()) return fail_here("EOF while parsing a value");
  const std::size_t digits = pos_;
  const char c0 = text_[pos_++];
  bool integer = true;
  if (c0 == '0') {
    if (is_digit(at(pos_))) return fail_peek("invalid number");
  } else if (is_digit(c0)) {
    while (is_digit(at(pos_))) ++pos_;
  } else {
    return fail_here("invalid number");
  }
  if (at(pos_) == '.') {
    integer = false;
    const std::size_t fraction = ++pos_;
    while (is_digit(at(pos_))) ++pos_;
    if (pos_ == fraction)
      return fail_peek(pos_ == text_.size() ? "EOF while parsing a value" : "invalid number");
  }
  if (at(pos_) == 'e' || at(pos_) == 'E') {
    integer = false;
    ++pos_;
    if (at(pos_) == '+' || at(pos_) == '-') ++pos_;
    if (pos_ == text_.size()) return fail_here("EOF while parsing a value");
    if (!is_digit(text_[pos_++])) return fail_here("invalid number");
    while (is_digit(at(pos_))) ++pos_;
  }
  if (description == nullptr) return true;

  if (integer) {
    // JSON has no leading zeros, so the digits are the decimal value; -0 is 0.
    *description = "integer `";
    if (negative && c0 != '0') *description += '-';
    *description += text_.substr(digits, pos_ - digits);
    *description += '`';
    return true;
  }
  const std::string_view num = text_.substr(start, pos_ - start);
  double value = 0;
  const auto [ptr, ec] = std::from_chars(num.data(), num.data() + num.size(), value);
  (void)ptr;
  if (ec == std::errc::result_out_of_range || std::isinf(value)) {
    if (overflows(num)) return fail_here("number out of range");
    value = negative ? -0.0 : 0.0;
  }
  *description = "floating point `" + float_text(value) + "`";
  return true;
}

bool Reader::hex4(std::uint32_t& value) {
  if (text_.size() - pos_ < 4) {
    pos_ = text_.size();
    return fail_here("EOF while parsing a string");
  }
  value = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = text_[pos_ + static_cast<std::size_t>(i)];
    std::uint32_t d;
    if (c >= '0' && c <= '9') d = static_cast<std::uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<std::uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<std::uint32_t>(c - 'A' + 10);
    else d = 16;
    if (d == 16) {
      pos_ += 4;
      return fail_here("invalid escape");
    }
    value = value << 4 | d;
  }
  pos_ += 4;
  return true;
}

// After a backslash.
bool Reader::escape(std::string* out, Mode mode) {
  if (pos_ == text_.size()) return fail_here("EOF while parsing a string");
  char decoded;
  switch (text_[pos_++]) {
    case '"': decoded = '"'; break;
    case '\\': decoded = '\\'; break;
    case '/': decoded = '/'; break;
    case 'b': decoded = '\b'; break;
    case 'f': decoded = '\f'; break;
    case 'n': decoded = '\n'; break;
    case 'r': decoded = '\r'; break;
    case 't': decoded = '\t'; break;
    case 'u': {
      std::uint32_t cp;
      if (!hex4(cp)) return false;
      if (mode == Mode::Skip) return true;  // a skipped string is checked for syntax only
      if (cp >= 0xDC00 && cp <= 0xDFFF) return fail_here("lone leading surrogate in hex escape");
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        for (char expected : {'\\', 'u'}) {
          if (pos_ == text_.size()) return fail_here("EOF while parsing a string");
          if (text_[pos_++] != expected) return fail_here("unexpected end of hex escape");
        }
        std::uint32_t low;
        if (!hex4(low)) return false;
        if (low < 0xDC00 || low > 0xDFFF) return fail_here("lone leading surrogate in hex escape");
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      }
      if (out != nullptr) {
        char bytes[U8_MAX_LENGTH];
        std::int32_t len = 0;
        U8_APPEND_UNSAFE(bytes, len, cp);
        out->append(bytes, static_cast<std::size_t>(len));
      }
      return true;
    }
    default:
      return fail_here("invalid escape");
  }
  if (out != nullptr) out->push_back(decoded);
  return true;
}

// A byte of 0x80 or above inside a string. Text from C++ callers may be
// ill-formed: it is rejected, so every string read is well-formed UTF-8.
bool Reader::utf8(std::string* out) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text_.data() + pos_);
  const std::size_t left = std::min<std::size_t>(text_.size() - pos_, U8_MAX_LENGTH);
  std::int32_t len = 0;
  UChar32 c;
  U8_NEXT(bytes, len, static_cast<std::int32_t>(left), c);
  if (c < 0) return fail_at(pos_ + 1, "invalid unicode code point");
  if (out != nullptr) out->append(text_.substr(pos_, static_cast<std::size_t>(len)));
  pos_ += static_cast<std::size_t>(len);
  return true;
}

// After the opening quote.
bool Reader::string_body(std::string* out, Mode mode) {
  for (;;) {
    const std::size_t run = pos_;
    while (pos_ < text_.size()) {
      const auto b = static_cast<unsigned char>(text_[pos_]);
      if (b < 0x20 || b == '"' || b == '\\' || b >= 0x80) break;
      ++pos_;
    }
    if (out != nullptr) out->append(text_.substr(run, pos_ - run));
    if (pos_ == text_.size()) return fail_here("EOF while parsing a string");
    const auto b = static_cast<unsigned char>(text_[pos_]);
    if (b == '"') {
      ++pos_;
      return true;
    }
    if (b == '\\') {
      ++pos_;
      if (!escape(out, mode)) return false;
    } else if (b < 0x20) {
      ++pos_;
      return fail_here("control character (\\u0000-\\u001F) found while parsing a string");
    } else if (!utf8(out)) {
      return false;
    }
  }
}

bool Reader::read_string(std::string& out, std::string_view expected) {
  if (peek() != '"') return fail_unexpected(expected);
  ++pos_;
  out.clear();
  return string_body(&out, Mode::Keep);
}

bool Reader::begin_array(std::string_view expected) {
  if (peek() != '[') return fail_unexpected(expected);
  ++pos_;
  return true;
}

bool Reader::begin_object(std::string_view expected) {
  if (peek() != '{') return fail_unexpected(expected);
  ++pos_;
  return true;
}

// Past what stands before a container's next member: `close` ends the
// container; members are parted by commas, and a comma may not trail.
Reader::Next Reader::next_member(bool& first, char close, const char* eof, const char* parted) {
  const int c = peek();
  if (c == close) {
    ++pos_;
    return Next::End;
  }
  if (c == -1) {
    fail_peek(eof);
    return Next::Error;
  }
  if (first) {
    first = false;
    return Next::Item;
  }
  if (c != ',') {
    fail_peek(parted);
    return Next::Error;
  }
  ++pos_;
  const int after = peek();
  if (after == close || after == -1) {
    fail_peek(after == close ? "trailing comma" : "EOF while parsing a value");
    return Next::Error;
  }
  return Next::Item;
}

Reader::Next Reader::next_element(bool& first) {
  return next_member(first, ']', "EOF while parsing a list", "expected `,` or `]`");
}

bool Reader::end_array() {
  switch (peek()) {
    case ']':
      ++pos_;
      return true;
    case -1:
      return fail_peek("EOF while parsing a list");
    case ',':
      ++pos_;
      return fail_peek(peek() == ']' ? "trailing comma" : "trailing characters");
    default:
      return fail_peek("trailing characters");
  }
}

Reader::Next Reader::next_key(bool& first, std::string* key, bool colon) {
  const Next next = next_member(first, '}', "EOF while parsing an object", "expected `,` or `}`");
  if (next != Next::Item) return next;
  if (peek() != '"') {
    fail_peek("key must be a string");
    return Next::Error;
  }
  ++pos_;
  if (key != nullptr) key->clear();
  if (!string_body(key, key != nullptr ? Mode::Keep : Mode::Skip)) return Next::Error;
  if (colon && !read_colon()) return Next::Error;
  return Next::Item;
}

bool Reader::read_colon() {
  switch (peek()) {
    case ':':
      ++pos_;
      return true;
    case -1:
      return fail_peek("EOF while parsing an object");
    default:
      return fail_peek("expected `:`");
  }
}

bool Reader::skip_value() {
  std::vector<char> open;  // the enclosing '[' and '{', innermost last
  bool first = false;      // nothing read yet in the innermost container
  for (;;) {
    // A value starts here.
    switch (const int c = peek()) {
      case -1:
        return fail_peek("EOF while parsing a value");
      case 'n': case 't': case 'f': case '-': case '"':
      case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9':
        if (!scalar(c, nullptr)) return false;
        break;
      case '[':
      case '{':
        open.push_back(text_[pos_++]);
        first = true;
        break;
      default:
        return fail_peek("expected value");
    }
    // Close what ends here, up to the next value.
    for (;;) {
      if (open.empty()) return true;
      const Next next = open.back() == '[' ? next_element(first) : next_key(first, nullptr);
      if (next == Next::Error) return false;
      if (next == Next::Item) break;
      open.pop_back();
      first = false;
    }
  }
}

bool Reader::finish() { return peek() == -1 || fail_peek("trailing characters"); }

std::string Reader::error_text() const {
  const std::string_view before = text_.substr(0, error_pos_);
  std::size_t line = 1;
  for (char c : before) line += c == '\n';
  const std::size_t nl = before.rfind('\n');
  const std::size_t column = nl == std::string_view::npos ? error_pos_ : error_pos_ - nl - 1;
  return message_ + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

}  // namespace torvane::json
