// Checks the corrected query over the corpus, each query against its own
// schema (the example schema where it names none), and over mutations of it:
// a label, type or key misspelt by one edit, written in backticks, with the
// blanks beside it removed. Every corrected query must parse, change only the
// names its findings rename, rename a key only where it is read from a
// finding's variable or pattern (read off the findings' messages), and raise
// no property finding on revalidation that its text did not have. Prints the
// figures; with a file name, also writes a sample of (text, corrected query)
// pairs as JSON lines for Neo4j's front end (ids "t<n>" and "c<n>").
// Usage: corrected_check [corpus [mutations per query [lint file [sample]]]]
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/name_changes.hpp"
#include "corpus.hpp"
#include "corpus_schemas.hpp"
#include "parser/lexical.hpp"
#include "parser/names.hpp"
#include "parser/parse.hpp"
#include "validator/torvane.hpp"

namespace {

using torvane::diagnostics::DiagnosticCode;
using torvane::diagnostics::ValidationDiagnostic;
using torvane::parser::NameOf;
using torvane::parser::NamePlace;
using torvane::parser::NameRole;
using torvane::validator::Torvane;
using torvane::validator::ValidationResult;

std::string bare(std::string_view s) {
  return std::string(NameOf(s.substr(s.starts_with(':') ? 1 : 0)).get());
}

// The text between two quotes of a message after `lead`, e.g. the variable
// of "... on variable 'n' ...".
std::string quoted_after(const std::string& message, std::string_view lead, char end) {
  const std::size_t at = message.find(lead);
  if (at == std::string::npos) return {};
  const std::size_t from = at + lead.size();
  const std::size_t to = message.find(end, from);
  return message.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// Empty when every renamed place of `fixed` is one that a finding, by its
// message, is about; else what is wrong.
std::string renamed_elsewhere(std::string_view query, std::string_view fixed,
                              const std::vector<ValidationDiagnostic>& diagnostics) {
  const auto before = torvane::parser::name_places(query);
  const auto after = torvane::parser::name_places(fixed);
  if (!before || !after || before->size() != after->size()) return "places differ";
  const auto text = [](std::string_view q, const NamePlace& p) {
    return q.substr(p.start, p.end - p.start);
  };
  for (std::size_t i = 0; i < before->size(); ++i) {
    const NamePlace& b = (*before)[i];
    if (text(query, b) == text(fixed, (*after)[i])) continue;
    const std::string name = bare(text(query, b));
    bool about = false;
    for (const auto& d : diagnostics) {
      if (!d.suggestion || bare(d.suggestion->original) != name) continue;
      const std::string& m = d.message;
      switch (d.code) {
        case DiagnosticCode::UnknownNodeLabel:
        case DiagnosticCode::UnknownNodeLabelInSet:
        case DiagnosticCode::UnknownNodeLabelInRemove: about |= b.role == NameRole::Label; break;
        case DiagnosticCode::UnknownRelType: about |= b.role == NameRole::RelType; break;
        case DiagnosticCode::UnknownNodePropertyOnVar:
        case DiagnosticCode::UnknownRelPropertyOnVar:
          about |= b.role == NameRole::PropertyKey &&
                   b.owner == torvane::parser::KeyOwner::Variable &&
                   query.substr(b.owner_start, b.owner_end - b.owner_start) ==
                       quoted_after(m, "' on variable '", '\'');
          break;
        case DiagnosticCode::UnknownNodeProperty:
        case DiagnosticCode::UnknownRelProperty: {
          if (b.role != NameRole::PropertyKey || b.owner != torvane::parser::KeyOwner::Pattern)
            break;
          const bool node = d.code == DiagnosticCode::UnknownNodeProperty;
          std::string owner =
              quoted_after(m, node ? "' for node label :" : "' for relationship type :", ',');
          for (std::size_t j = b.owner_start; j < b.owner_end; ++j) {
            const NamePlace& o = (*before)[j];
            // The message ends after the name when it has no hint.
            about |= o.role == (node ? NameRole::Label : NameRole::RelType) &&
                     bare(text(query, o)) == bare(owner);
          }
          break;
        }
        default: break;
      }
    }
    if (!about) return "renamed " + std::string(text(query, b)) + " that no finding is about";
  }
  return {};
}

bool is_property_code(DiagnosticCode c) {
  return c == DiagnosticCode::UnknownNodeProperty || c == DiagnosticCode::UnknownRelProperty ||
         c == DiagnosticCode::UnknownNodePropertyOnVar ||
         c == DiagnosticCode::UnknownRelPropertyOnVar;
}

void json_string(std::string& out, std::string_view s) {
  out += '"';
  for (const unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

// One mutation of `q`: one or two names misspelt by one edit, each at its
// one place or at every place with its name and role; each place perhaps in
// backticks and run into its neighbours.
std::string mutate(const std::string& q, const std::vector<NamePlace>& places, std::mt19937& rng) {
  const auto below = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };
  const auto text = [&](const NamePlace& p) {
    return bare(std::string_view(q).substr(p.start, p.end - p.start));
  };
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz";
  std::map<std::size_t, std::string> renamed;  // by place, the later first applied
  for (int n = places.size() > 1 && below(3) == 0 ? 2 : 1; n > 0; --n) {
    const std::size_t at = below(places.size());
    std::string name = text(places[at]);
    switch (below(5)) {
      case 0:
        if (name.size() > 1) name.erase(below(name.size()), 1);
        break;
      case 1: name[below(name.size())] = kLetters[below(26)]; break;
      case 2: name.insert(below(name.size() + 1), 1, kLetters[below(26)]); break;
      case 3:
        if (name.size() > 1) {
          const std::size_t i = below(name.size() - 1);
          std::swap(name[i], name[i + 1]);
        }
        break;
      default: break;  // the name as it is, perhaps in backticks
    }
    const bool everywhere = below(3) == 0;
    for (std::size_t i = 0; i < places.size(); ++i)
      if (i == at ||
          (everywhere && places[i].role == places[at].role && text(places[i]) == text(places[at])))
        renamed[i] = name;
  }
  std::string out = q;
  for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) {
    const NamePlace& p = places[it->first];
    std::string written = torvane::parser::written_name(it->second);
    const bool backticked = written.starts_with('`') || below(2) == 0;
    if (backticked && !written.starts_with('`')) written = "`" + written + "`";
    std::size_t start = p.start, end = p.end;
    if (backticked && below(2) == 0)
      while (end < out.size() && torvane::parser::is_blank(out[end])) ++end;
    if (backticked && below(4) == 0)
      while (start > 0 && torvane::parser::is_blank(out[start - 1])) --start;
    out.replace(start, end - start, written);
  }
  return out;
}

struct Figures {
  std::size_t texts = 0, parsed = 0, corrected = 0, fails_parse = 0, wrong = 0, elsewhere = 0,
              new_findings = 0, beside_word = 0;
  std::map<std::string, std::string> samples;  // a kind of failure, one text
  void fail(const std::string& kind, const std::string& text) { samples.try_emplace(kind, text); }
};

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : torvane::testing::corpus_dir().string();
  const int per_query = argc > 2 ? std::atoi(argv[2]) : 8;
  const std::string lint_file = argc > 3 ? argv[3] : "";
  const std::size_t sample = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 20000;
  std::ifstream example(std::string(TORVANE_SOURCE_ROOT) + "/examples/schema.json");
  std::stringstream example_text;
  example_text << example.rdbuf();
  auto fallback = torvane::schema::Schema::deserialize(example_text.str());
  torvane::testing::CorpusSchemas schemas(
      dir, fallback.ok() ? std::move(*fallback) : torvane::schema::Schema{});
  std::mt19937 rng(20261211);
  Figures corpus, mutated;
  // (text, corrected) pairs for Neo4j: those where a bare replacement meets
  // a word first, then others at random.
  std::vector<std::pair<std::string, std::string>> beside, others;
  std::set<std::string> seen;
  std::map<const torvane::schema::Schema*, Torvane> validators;
  const auto check = [&](Figures& f, const Torvane& v, const std::string& text) {
    ++f.texts;
    const ValidationResult r = v.validate(text);
    if (!r.syntax_errors.empty()) return;
    ++f.parsed;
    if (!r.fixed_query) return;
    ++f.corrected;
    const std::string& fixed = *r.fixed_query;
    if (!torvane::parser::parse(fixed).ok()) {
      ++f.fails_parse;
      f.fail("does not parse", text);
    }
    if (const std::string w = torvane::testing::wrong_correction(v.schema, text, r.fixed_query);
        !w.empty()) {
      ++f.wrong;
      f.fail(w, text);
    }
    if (const std::string w = renamed_elsewhere(text, fixed, r.diagnostics); !w.empty()) {
      ++f.elsewhere;
      f.fail(w, text);
    }
    // Revalidated, no property finding on a renamed key that the text did
    // not have (a key of a corrected label may be found misspelt now).
    const ValidationResult again = v.validate(fixed);
    // Each renamed key with its variable, label or type, as in `fixed`.
    std::set<std::pair<std::string, std::string>> renamed;
    const auto was = torvane::parser::name_places(text);
    const auto now = torvane::parser::name_places(fixed);
    for (std::size_t i = 0; was && now && i < was->size() && i < now->size(); ++i) {
      const NamePlace& a = (*now)[i];
      const std::string key(fixed.substr(a.start, a.end - a.start));
      if (a.role != NameRole::PropertyKey ||
          text.substr((*was)[i].start, (*was)[i].end - (*was)[i].start) == key)
        continue;
      if (a.owner == torvane::parser::KeyOwner::Variable)
        renamed.emplace(fixed.substr(a.owner_start, a.owner_end - a.owner_start), bare(key));
      if (a.owner == torvane::parser::KeyOwner::Pattern)
        for (std::size_t j = a.owner_start; j < a.owner_end; ++j)
          renamed.emplace(bare(fixed.substr((*now)[j].start, (*now)[j].end - (*now)[j].start)),
                          bare(key));
    }
    const auto subject_of = [](const std::string& m) {
      for (const auto& [lead, end] : {std::pair{"' on variable '", '\''},
                                      {"' for node label :", ','},
                                      {"' for relationship type :", ','}})
        if (m.find(lead) != std::string::npos) {
          const std::string s = quoted_after(m, lead, end);
          return lead[2] == 'o' ? s : bare(s);
        }
      return std::string();
    };
    std::multiset<std::string> had;
    for (const auto& d : r.diagnostics)
      if (is_property_code(d.code)) had.insert(d.message.substr(0, d.message.find(", did you")));
    for (const auto& d : again.diagnostics) {
      if (!is_property_code(d.code) ||
          !renamed.contains({subject_of(d.message), quoted_after(d.message, "property '", '\'')}))
        continue;
      const auto it = had.find(d.message.substr(0, d.message.find(", did you")));
      if (it != had.end()) {
        had.erase(it);
        continue;
      }
      ++f.new_findings;
      f.fail("new finding: " + d.message.substr(0, d.message.find(", did you")), text);
      break;
    }
    // Where the text changed next to a word character.
    bool word = false;
    const auto places = torvane::parser::name_places(fixed);
    for (const NamePlace& p : places ? *places : std::vector<NamePlace>{})
      word |= (p.start > 0 && torvane::parser::is_word_char(fixed[p.start - 1])) ||
              (p.end < fixed.size() && torvane::parser::is_word_char(fixed[p.end]));
    f.beside_word += word;
    if (!lint_file.empty() && seen.insert(fixed).second)
      (word ? beside : others).emplace_back(text, fixed);
  };
  for (const auto& file : torvane::testing::corpus_files(dir)) {
    for (const auto& q : schemas.read(file)) {
      const Torvane& v = validators.try_emplace(q.schema, *q.schema).first->second;
      check(corpus, v, q.query);
      const auto places = torvane::parser::name_places(q.query);
      if (!places || places->empty()) continue;
      for (int i = 0; i < per_query; ++i) check(mutated, v, mutate(q.query, *places, rng));
    }
  }
  for (const auto* f : {&corpus, &mutated}) {
    std::printf("%s: %zu texts, %zu parse, %zu corrected (%zu with a name beside a word)\n",
                f == &corpus ? "corpus" : "mutated", f->texts, f->parsed, f->corrected,
                f->beside_word);
    std::printf(
        "  corrected query does not parse: %zu; wrong names: %zu; renamed where no "
        "finding is: %zu; new property finding on revalidation: %zu\n",
        f->fails_parse, f->wrong, f->elsewhere, f->new_findings);
    for (const auto& [kind, text] : f->samples)
      std::printf("  e.g. %s:\n    %s\n", kind.c_str(), text.c_str());
  }
  if (!lint_file.empty()) {
    std::shuffle(others.begin(), others.end(), rng);
    std::vector<std::pair<std::string, std::string>> chosen(
        beside.begin(), beside.begin() + std::min(beside.size(), sample / 2));
    for (std::size_t i = 0; i < others.size() && chosen.size() < sample; ++i)
      chosen.push_back(others[i]);
    std::ofstream out(lint_file);
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      for (const auto& [id, text] : {std::pair{'t', &chosen[i].first}, {'c', &chosen[i].second}}) {
        std::string line = "{\"id\": \"";
        line += id;
        line += std::to_string(i) + "\", \"q\": ";
        json_string(line, *text);
        out << line << "}\n";
      }
    }
    std::printf("lint sample: %zu pairs (%zu beside a word, of %zu; %zu others)\n", chosen.size(),
                std::min(beside.size(), sample / 2), beside.size(), others.size());
  }
  return 0;
}
