#pragma once
// A pull reader over one JSON text, for callers that know the shape they
// expect. Every read skips the whitespace before it. A failed read returns
// false and keeps the first error; error_text() then gives
// "{} at line {} column {}". Nothing here recurses: skipping a value of any
// depth uses an explicit stack.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace torvane::json {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  // What the next step of an array or object walk found.
  enum class Next : std::uint8_t { Error, End, Item };

  // A string value into `out` (replaced), or an "invalid type" error naming
  // `expected`.
  bool read_string(std::string& out, std::string_view expected = "a string");
  // Enters an array or object, or fails with "invalid type" naming `expected`.
  bool begin_array(std::string_view expected);
  bool begin_object(std::string_view expected);
  // Inside an array: is there another element? `first` starts true.
  Next next_element(bool& first);
  // After the elements a caller expects: the closing "]", or "trailing
  // characters" for more.
  bool end_array();
  // Inside an object: reads the next key into `key` and the colon after it
  // unless `colon` is false (then call read_colon()). Item leaves the value
  // next; End has consumed the closing "}".
  // A null `key` skips the key's text.
  Next next_key(bool& first, std::string* key, bool colon = true);
  bool read_colon();
  // Reads any well-formed value and discards it.
  bool skip_value();
  // Whitespace until the end, or "trailing characters".
  bool finish();

  // The next byte after whitespace, or -1 at the end; bump() consumes it.
  int peek();
  void bump() { ++pos_; }
  // "EOF while parsing a value" at the end, or "invalid type" naming
  // `expected` for the value that is next (read to describe it), or
  // "expected value".
  bool fail_unexpected(std::string_view expected);
  // Errors of meaning, at the current position.
  bool fail_invalid_length(std::size_t found, std::string_view expected);
  bool fail_here(std::string message);

  std::size_t position() const { return pos_; }
  const std::string& error_message() const { return message_; }
  std::size_t error_offset() const { return error_pos_; }
  // "{} at line {} column {}": lines count line feeds from 1, columns count
  // the bytes since the start of the line.
  std::string error_text() const;

 private:
  enum class Mode : std::uint8_t { Keep, Skip };

  bool fail_at(std::size_t pos, std::string message);
  Next next_member(bool& first, char close, const char* eof, const char* parted);
  [[gnu::cold]] bool fail_peek(std::string message);  // just after the next byte
  bool scalar(int c, std::string* description);
  bool ident(std::string_view rest);
  bool string_body(std::string* out, Mode mode);
  bool escape(std::string* out, Mode mode);
  bool hex4(std::uint32_t& value);
  bool utf8(std::string* out);
  bool number(bool negative, std::string* description);

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t error_pos_ = 0;
  std::string message_;
};

}  // namespace torvane::json
