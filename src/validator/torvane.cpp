#include "validator/torvane.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>

#include "keyed_hash.hpp"
#include "parser/parse.hpp"
#include "validator/semantic.hpp"

namespace torvane::validator {
using diagnostics::DiagnosticCode;
using diagnostics::Severity;
using diagnostics::ValidationDiagnostic;

namespace {

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The length of the string literal, comment or backticked name that starts at
// `i`, or 0 when none does. Strings have no escapes and block comments do not
// nest, as the grammar reads them; an unclosed quote, backtick or "/*" opens
// nothing. A backticked name counts as one name: a replacement may take it
// only whole, by an original that spells it with its backticks, so a name
// inside it (`my nme`) is never replaced piecemeal.
std::size_t opaque_length(std::string_view text, std::size_t i) {
  const char c = text[i];
  if (c == '\'' || c == '"' || c == '`') {
    const std::size_t close = text.find(c, i + 1);
    return close == std::string_view::npos ? 0 : close + 1 - i;
  }
  if (c == '/' && i + 1 < text.size()) {
    if (text[i + 1] == '/') {
      const std::size_t eol = text.find('\n', i + 2);
      return (eol == std::string_view::npos ? text.size() : eol + 1) - i;
    }
    if (text[i + 1] == '*') {
      const std::size_t close = text.find("*/", i + 2);
      return close == std::string_view::npos ? 0 : close + 2 - i;
    }
  }
  return 0;
}

// Replaces, from the left and without overlaps, each occurrence of `original`
// that is a whole name outside strings and comments: no name character may
// follow it, nor, for a property key (no leading colon), precede it.
std::string replace_names(std::string_view text, std::string_view original,
                          std::string_view replacement) {
  std::string out;
  if (original.empty()) return std::string(text);
  const bool key = original.front() != ':';
  out.reserve(text.size());
  std::size_t i = 0;
  std::size_t copied = 0;
  while (i < text.size()) {
    if (text.substr(i).starts_with(original)) {
      const std::size_t end = i + original.size();
      const bool ends = end == text.size() || !is_name_char(text[end]);
      const bool starts = !key || i == 0 || !is_name_char(text[i - 1]);
      if (ends && starts) {
        out.append(text, copied, i - copied);
        out += replacement;
        i = copied = end;
        continue;
      }
    }
    const std::size_t skip = opaque_length(text, i);
    i += skip ? skip : 1;
  }
  out.append(text, copied);
  return out;
}

struct Pair {
  std::string_view original, replacement;
};

// Name characters only, after a colon when `colon`.
bool is_plain_name(std::string_view s, bool colon) {
  if (colon) {
    if (!s.starts_with(':')) return false;
    s.remove_prefix(1);
  }
  return !s.empty() && std::all_of(s.begin(), s.end(), is_name_char);
}

// A backticked name without a backtick inside.
bool is_quoted_name(std::string_view s) {
  return s.size() >= 2 && s.front() == '`' && s.back() == '`' &&
         s.substr(1, s.size() - 2).find('`') == std::string_view::npos;
}

// A pair whose original is a plain or backticked name and whose replacement
// a plain name, both after a colon or neither. Its matches are whole words or
// backticked names (after a colon for a label), each of which it turns into
// a whole word, so it moves no boundary of a word, string or comment: every
// pass of a run of such pairs sees the same words, and one scan can apply the
// whole run. Replacing pass after pass would cost the text's length per pair.
// Backticked originals need `quoted`: no backticked name right after another
// (``), whose neighbour would turn from a backtick into a name character.
bool is_plain(const Pair& p, bool quoted) {
  const bool colon = p.original.starts_with(':');
  const std::string_view name = p.original.substr(colon ? 1 : 0);
  return (is_plain_name(name, false) || (quoted && is_quoted_name(name))) &&
         is_plain_name(p.replacement, colon);
}

// The word of a plain name.
std::string_view bare(std::string_view s) { return s.substr(s.starts_with(':') ? 1 : 0); }

// What consecutive plain pairs, in sorted order, make of a word: the first
// pair that matches it replaces it, then the first later pair that matches
// the new word, and so on, as their passes one after the other would.
class PlainRun {
 public:
  explicit PlainRun(std::span<const Pair> run) : run_(run) {
    for (std::uint32_t k = 0; k < run.size(); ++k) {
      auto& by_word = run[k].original.starts_with(':') ? labels_ : keys_;
      by_word[std::string(bare(run[k].original))].push_back(k);
    }
    for (auto& ends : ends_) ends.resize(run.size());
  }

  // `after_colon`: a colon stands before the word, so labels match it too.
  std::string_view result(std::string_view word, bool after_colon) {
    std::uint32_t k = next(word, after_colon, 0);
    if (k == kNone) return word;
    // Follow the chain to its end or to a pair already followed, then note
    // the end for every pair on the way, so no chain is walked twice.
    auto& ends = ends_[after_colon];
    path_.clear();
    std::string_view end;
    while (true) {
      if (!ends[k].empty()) {
        end = ends[k];
        break;
      }
      path_.push_back(k);
      const std::string_view made = bare(run_[k].replacement);
      k = next(made, after_colon, k + 1);
      if (k == kNone) {
        end = made;
        break;
      }
    }
    for (const std::uint32_t p : path_) ends[p] = end;
    return end;
  }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  // The first pair from `from` on whose original matches `word`.
  std::uint32_t next(std::string_view word, bool after_colon, std::uint32_t from) const {
    std::uint32_t first = kNone;
    const auto search = [&](const HashMap<std::vector<std::uint32_t>>& by_word) {
      const auto it = by_word.find(word);
      if (it == by_word.end()) return;
      const auto at = std::lower_bound(it->second.begin(), it->second.end(), from);
      if (at != it->second.end()) first = std::min(first, *at);
    };
    search(keys_);
    if (after_colon) search(labels_);
    return first;
  }

  std::span<const Pair> run_;
  HashMap<std::vector<std::uint32_t>> keys_, labels_;  // pair indices by bare original
  // By colon: the word that the chain after pair k ends in, once walked.
  std::vector<std::string_view> ends_[2];
  std::vector<std::uint32_t> path_;
};

// One scan over the words and backticked names outside strings and comments,
// as replace_names scans; a word is a longest run of name characters.
std::string apply_plain_run(std::string_view text, PlainRun& run) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  std::size_t copied = 0;
  // The name text[i, end) as the run makes it.
  const auto replace = [&](std::size_t end) {
    const std::string_view name = text.substr(i, end - i);
    const std::string_view made = run.result(name, i > 0 && text[i - 1] == ':');
    if (made.data() == name.data()) return;
    out.append(text, copied, i - copied);
    out += made;
    copied = end;
  };
  while (i < text.size()) {
    if (is_name_char(text[i]) && (i == 0 || !is_name_char(text[i - 1]))) {
      std::size_t end = i + 1;
      while (end < text.size() && is_name_char(text[end])) ++end;
      replace(end);
      i = end;
      continue;
    }
    const std::size_t skip = opaque_length(text, i);
    const std::size_t end = i + skip;
    // A backticked name is whole when no name character touches it.
    if (skip && text[i] == '`' && (i == 0 || !is_name_char(text[i - 1])) &&
        (end == text.size() || !is_name_char(text[end])))
      replace(end);
    i += skip ? skip : 1;
  }
  out.append(text, copied);
  return out;
}

}  // namespace

std::optional<std::string> corrected_query(std::string_view query,
                                           const std::vector<ValidationDiagnostic>& diagnostics) {
  // Most queries have no error, and so nothing to correct.
  const auto is_error = [](const ValidationDiagnostic& d) { return d.severity == Severity::Error; };
  if (std::none_of(diagnostics.begin(), diagnostics.end(), is_error)) return std::nullopt;
  std::vector<Pair> pairs;
  HashSet seen;  // original and replacement, the original's length first
  std::string key;
  for (const auto& d : diagnostics) {
    if (!is_error(d)) continue;
    if (!d.suggestion) return std::nullopt;  // one error without a fix withholds all
    const Pair p{d.suggestion->original, d.suggestion->replacement};
    key.assign(std::to_string(p.original.size())).append(1, ':');
    key.append(p.original).append(p.replacement);
    if (seen.insert(key).second) pairs.push_back(p);
  }
  // Longest original first, so a shorter original cannot cut into a longer one.
  std::stable_sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) {
    return a.original.size() > b.original.size();
  });
  std::string text(query);
  for (std::size_t k = 0; k < pairs.size();) {
    const bool quoted = text.find("``") == std::string::npos;
    if (!is_plain(pairs[k], quoted)) {
      text = replace_names(text, pairs[k].original, pairs[k].replacement);
      ++k;
      continue;
    }
    std::size_t end = k + 1;
    while (end < pairs.size() && is_plain(pairs[end], quoted)) ++end;
    PlainRun run(std::span<const Pair>(pairs).subspan(k, end - k));
    text = apply_plain_run(text, run);
    k = end;
  }
  return text;
}

bool selects(Messages which, const ValidationDiagnostic& d) {
  const bool error = d.severity == Severity::Error;
  const bool syntax = d.code == DiagnosticCode::ParseError;
  switch (which) {
    case Messages::Errors: return error;
    case Messages::SyntaxErrors: return error && syntax;
    case Messages::SemanticErrors: return error && !syntax;
    case Messages::Warnings: return !error;
  }
  return false;
}

namespace {

Findings checked(const schema::Schema& schema, std::string_view query,
                 const parser::ast::CypherQuery& tree) {
  semantic::SemanticValidator validator(schema);
  validator.validate_query(tree);
  Findings found{validator.error_count == 0, std::move(validator.diagnostics), std::nullopt};
  found.fixed_query = corrected_query(query, found.diagnostics);
  return found;
}

// The message lists spelt out: an error's message goes to `errors` and, by
// where it was found, to `syntax_errors` or `semantic_errors`.
ValidationResult spelt_out(Findings&& found) {
  ValidationResult result;
  result.is_valid = found.is_valid;
  for (const auto& d : found.diagnostics) {
    for (const auto& [which, list] : {std::pair{Messages::Errors, &result.errors},
                                      std::pair{Messages::SyntaxErrors, &result.syntax_errors},
                                      std::pair{Messages::SemanticErrors, &result.semantic_errors},
                                      std::pair{Messages::Warnings, &result.warnings}})
      if (selects(which, d)) list->push_back(d.message);
  }
  result.diagnostics = std::move(found.diagnostics);
  result.fixed_query = std::move(found.fixed_query);
  return result;
}

}  // namespace

Findings Torvane::findings(std::string_view query) const {
  auto parsed = parser::parse_with_detail(query);
  if (parsed) return checked(schema, query, *parsed);
  ParseErrorDetail& detail = parsed.error();
  Findings found{false, {}, std::nullopt};
  found.diagnostics.push_back(ValidationDiagnostic{DiagnosticCode::ParseError, Severity::Error,
                                                   std::move(detail.message), std::nullopt,
                                                   detail.position});
  return found;
}

ValidationResult Torvane::validate(std::string_view query) const {
  return spelt_out(findings(query));
}

ValidationResult Torvane::validate_parsed(std::string_view query,
                                          const parser::ast::CypherQuery& tree) const {
  return spelt_out(checked(schema, query, tree));
}

}  // namespace torvane::validator
