#pragma once
// Names as a query writes them: plain, or between backticks, where a doubled
// backtick stands for one. A label, relationship type or property key is the
// name it stands for, however it is written.
#include <string>
#include <string_view>

namespace torvane::parser {

// The name that `written` stands for: without its backticks, each doubled
// backtick inside as one; a plain name as it is.
// Whether `written` is between backticks, the one case where the name it
// stands for differs from it: most names are plain and are used as written.
inline bool quoted(std::string_view written) {
  return written.size() >= 2 && written.front() == '`' && written.back() == '`';
}

class NameOf {
 public:
  // Inline, as most names are plain and are looked up often.
  explicit NameOf(std::string_view written) : view_(written) {
    if (quoted(written)) unquote();
  }
  NameOf(const NameOf&) = delete;
  NameOf& operator=(const NameOf&) = delete;

  // A view of the written text unless a doubled backtick had to be undone.
  std::string_view get() const { return view_; }

 private:
  void unquote();

  std::string owned_;
  std::string_view view_;
};

// `name` written so that the grammar reads it back as that name: as it is
// when it is a plain identifier and no reserved word, else between backticks.
std::string written_name(std::string_view name);

}  // namespace torvane::parser
