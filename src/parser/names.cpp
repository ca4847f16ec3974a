#include "parser/names.hpp"

#include <algorithm>

#include "parser/grammar.hpp"
#include "parser/lexical.hpp"

namespace torvane::parser {
namespace {

bool is_plain_identifier(std::string_view name) {
  return !name.empty() && (is_letter(name.front()) || name.front() == '_') &&
         std::all_of(name.begin(), name.end(), is_word_char) && !grammar::is_reserved_word(name);
}

}  // namespace

void NameOf::unquote() {
  view_ = view_.substr(1, view_.size() - 2);
  if (view_.find("``") == std::string_view::npos) return;
  owned_.reserve(view_.size());
  for (std::size_t i = 0; i < view_.size(); ++i) {
    owned_ += view_[i];
    if (view_[i] == '`' && i + 1 < view_.size() && view_[i + 1] == '`') ++i;
  }
  view_ = owned_;
}

std::string written_name(std::string_view name) {
  if (is_plain_identifier(name)) return std::string(name);
  std::string out = "`";
  for (const char c : name) {
    out += c;
    if (c == '`') out += '`';
  }
  out += '`';
  return out;
}

}  // namespace torvane::parser
