// A digest of everything the grammar and the tree builder make of a large,
// fixed set of texts, so that a change meant to keep behaviour can be shown
// to keep it: two builds that print the same digests gave the same pairs,
// syntax errors, attempt counts and syntax trees for every text.
//
// Texts: every corpus query; for each, copies cut at a quarter, half and
// three quarters of its length and before its last character, one spliced
// from its first half and the next query's second half, and the text after
// its first MATCH, WHERE and RETURN (where the pattern and expression start
// rules have something to read); then nested and chained shapes at lengths
// around the grammar's nesting bound. Each text runs from four start rules on
// the remembering engine (as the product parses) and on the plain one; each
// text also goes through parse_with_detail and parse, the entry points of
// validation and of parse_query. (The engine keeps its peak depth to
// itself, so that is not digested; the attempt count is.)
//
// Usage: grammar_digest [corpus-dir] [--lines] [--jobs N] [--edges]
//   --lines  one line per text and start rule with its hashes, so two runs
//            can be diffed for the first text that differs
//   --edges  for each shape, the largest length each start rule parses
//            without reaching the nesting bound, then exit
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "corpus.hpp"
#include "parser/cypher_parser.hpp"
#include "parser/engine.hpp"
#include "parser/parse.hpp"
#include "tree_dump.hpp"

namespace {

using torvane::parser::CypherParser;
using torvane::parser::Pair;
using torvane::parser::Pairs;
using torvane::parser::ParserState;
using torvane::parser::Rule;

// 64-bit FNV-1a; every variable-length field goes in with its length first,
// so no two field sequences feed the same bytes.
struct Fnv {
  std::uint64_t h = 14695981039346656037ull;
  void bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < n; ++i) {
      h ^= b[i];
      h *= 1099511628211ull;
    }
  }
  void u64(std::uint64_t v) {
    unsigned char b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
    bytes(b, 8);
  }
  void str(std::string_view s) {
    u64(s.size());
    bytes(s.data(), s.size());
  }
};

constexpr Rule kStarts[] = {Rule::cypher, Rule::expression, Rule::pattern, Rule::statement};
constexpr std::size_t kNumStarts = std::size(kStarts);
constexpr const char* kStartNames[] = {"cypher", "expression", "pattern", "statement"};

struct Text {
  std::string origin;  // where it came from, for --lines
  std::string text;
};

// ---- The texts ----

// The largest character boundary at or before byte `at`, so that cut texts
// stay well-formed UTF-8, as every text from Python is.
std::size_t boundary(std::string_view s, std::size_t at) {
  at = std::min(at, s.size());
  while (at > 0 && at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0u) == 0x80u) --at;
  return at;
}

void add_derived(std::vector<Text>& out, const std::string& origin, const std::string& q,
                 const std::string& next) {
  const std::size_t n = q.size();
  static constexpr struct {
    const char* name;
    std::size_t num, den;
  } kCuts[] = {{"cut1/4", 1, 4}, {"cut1/2", 1, 2}, {"cut3/4", 3, 4}};
  for (const auto& c : kCuts)
    out.push_back({c.name + (":" + origin), q.substr(0, boundary(q, n * c.num / c.den))});
  out.push_back({"cutlast:" + origin, q.substr(0, boundary(q, n == 0 ? 0 : n - 1))});
  out.push_back({"splice:" + origin,
                 q.substr(0, boundary(q, n / 2)) + next.substr(boundary(next, next.size() / 2))});
  // The rest after the first clause word: patterns and expressions to start from.
  for (const char* word : {"MATCH", "WHERE", "RETURN"}) {
    const std::size_t at = q.find(std::string(word) + " ");
    if (at != std::string::npos)
      out.push_back(
          {std::string("after") + word + ":" + origin, q.substr(at + std::strlen(word) + 1)});
  }
}

// `head`, then `unit` n times.
std::string chain(std::string_view head, std::string_view unit, std::size_t n) {
  std::string out(head);
  out.reserve(head.size() + unit.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += unit;
  return out;
}

// One shape: its text at nesting (or chain length) n, as an expression, a
// pattern or a query.
enum class Kind : std::uint8_t { nesting, chain, pattern, pattern_chain, query };
struct Shape {
  const char* name;
  Kind kind;
  std::vector<std::size_t> edges;  // the longest texts within the nesting bound, by --edges
  std::function<std::string(std::size_t)> make;
};

// `core` inside n of `open` ... `close`, the innermost m of them `inner_open`
// ... `inner_close` instead.
std::string nest(std::string_view open, std::string_view core, std::string_view close,
                 std::size_t n, std::string_view inner_open = {}, std::string_view inner_close = {},
                 std::size_t m = 0) {
  std::string out = chain(chain("", open, n), inner_open, m);
  out += core;
  return chain(chain(out, inner_close, m), close, n);
}

std::vector<Shape> shapes() {
  std::vector<Shape> v;
  Kind kind = Kind::nesting;
  auto add = [&](const char* name, std::vector<std::size_t> edges,
                 std::function<std::string(std::size_t)> f) {
    v.push_back({name, kind, std::move(edges), std::move(f)});
  };
  // Nesting, as expressions.
  add("paren", {69, 70}, [](std::size_t n) { return nest("(", "1", ")", n); });
  add("list", {65}, [](std::size_t n) { return nest("[", "1", "]", n); });
  add("map", {61}, [](std::size_t n) { return nest("{a: ", "1", "}", n); });
  add("call", {69, 70}, [](std::size_t n) { return nest("f(", "x", ")", n); });
  add("subscript", {69, 70}, [](std::size_t n) { return nest("x[", "0", "]", n); });
  add("neg_paren", {69, 70}, [](std::size_t n) { return nest("-(", "1", ")", n); });
  add("add_paren", {69, 70}, [](std::size_t n) { return nest("1 + (", "1", ")", n); });
  add("case", {69, 70}, [](std::size_t n) { return nest("CASE WHEN x THEN ", "1", " END", n); });
  add("case_operand", {69, 70},
      [](std::size_t n) { return nest("CASE ", "x", " WHEN 1 THEN 2 END", n); });
  add("comprehension", {60}, [](std::size_t n) { return nest("[x IN ", "[1]", " | x]", n); });
  add("quantifier", {60}, [](std::size_t n) { return nest("all(x IN ", "[1]", " WHERE x)", n); });
  add("exists", {46}, [](std::size_t n) { return nest("EXISTS {(a {k: ", "1", "})}", n); });
  // Chains, flat in the grammar and as deep as they are long in the tree.
  kind = Kind::chain;
  add("not", {}, [](std::size_t n) { return chain("", "NOT ", n) + "x"; });
  add("minus", {}, [](std::size_t n) { return chain("", "- ", n) + "1"; });
  add("property", {}, [](std::size_t n) { return chain("n", ".a", n); });
  add("or", {}, [](std::size_t n) { return chain("x", " OR x", n); });
  add("and", {}, [](std::size_t n) { return chain("x", " AND x", n); });
  add("add", {}, [](std::size_t n) { return chain("1", " + 1", n); });
  add("power", {}, [](std::size_t n) { return chain("2", " ^ 2", n); });
  add("compare", {}, [](std::size_t n) { return chain("1", " < 1", n); });
  add("index", {}, [](std::size_t n) { return chain("x", "[0]", n); });
  add("is_null", {}, [](std::size_t n) { return chain("x", " IS NULL", n); });
  // Patterns.
  kind = Kind::pattern;
  add("node_map", {60, 61},
      [](std::size_t n) { return nest("(a {a: ", "1", "})", 1, "{a: ", "}", n); });
  add("rel_map", {60, 61},
      [](std::size_t n) { return nest("(a)-[r {a: ", "1", "}]->(b)", 1, "{a: ", "}", n); });
  kind = Kind::pattern_chain;
  add("path", {}, [](std::size_t n) { return chain("(a)", "-[:R]->(b)", n); });
  kind = Kind::nesting;
  add("shortest", {63, 64, 65}, [](std::size_t n) {
    return nest("shortestPath((a)-[*]-(b {k: ", "1", "}))", 1, "[", "]", n);
  });
  // Queries that nest or chain in their clauses, whole.
  kind = Kind::query;
  add("foreach", {482, 483},
      [](std::size_t n) { return nest("FOREACH (x IN [1] | ", "CREATE (a)", ")", n); });
  add("union", {}, [](std::size_t n) { return chain("RETURN 1", " UNION RETURN 1", n); });
  add("with", {}, [](std::size_t n) { return chain("", "WITH 1 AS a ", n) + "RETURN a"; });
  add("match", {}, [](std::size_t n) { return chain("", "MATCH (a) ", n) + "RETURN a"; });
  return v;
}

bool is_chain(Kind k) { return k == Kind::chain || k == Kind::pattern_chain; }
bool is_pattern(Kind k) { return k == Kind::pattern || k == Kind::pattern_chain; }

// A shape's text as a whole query: a pattern after MATCH, an expression after RETURN.
std::string as_query(const Shape& s, std::size_t n) {
  if (s.kind == Kind::query) return s.make(n);
  return (is_pattern(s.kind) ? "MATCH " : "RETURN ") + s.make(n);
}

// The lengths of every shape: small ones, some around 333 and 1000 (far
// past the nesting bound for a nested shape, well within it for a chain),
// and those around the shape's own edges.
constexpr std::size_t kLengths[] = {0, 1, 2, 10, 100, 300, 332, 333, 334, 999, 1000, 1001};
// Chains also at lengths where the parse tree folds (texts of 16 KiB and more).
constexpr std::size_t kChainLengths[] = {5000, 100000};

std::vector<std::size_t> lengths_of(const Shape& s) {
  std::vector<std::size_t> out(std::begin(kLengths), std::end(kLengths));
  if (is_chain(s.kind)) out.insert(out.end(), std::begin(kChainLengths), std::end(kChainLengths));
  for (std::size_t e : s.edges)
    for (std::size_t n = e - 2; n <= e + 2; ++n) out.push_back(n);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::vector<Text> all_texts(const std::filesystem::path& dir, std::size_t& corpus_count) {
  std::vector<Text> out;
  std::vector<std::pair<std::string, std::string>> corpus;  // origin, query
  for (const auto& f : torvane::testing::corpus_files(dir)) {
    const auto qs = torvane::testing::read_queries(f);
    for (std::size_t i = 0; i < qs.size(); ++i)
      corpus.push_back({f.stem().string() + ":" + std::to_string(i + 1), qs[i]});
  }
  corpus_count = corpus.size();
  for (const auto& [origin, q] : corpus) out.push_back({"corpus:" + origin, q});
  for (std::size_t i = 0; i < corpus.size(); ++i)
    add_derived(out, corpus[i].first, corpus[i].second, corpus[(i + 1) % corpus.size()].second);
  for (const Shape& s : shapes()) {
    for (std::size_t n : lengths_of(s)) {
      const std::string tag = std::string("shape:") + s.name + ":" + std::to_string(n);
      const std::string bare = s.make(n);
      if (s.kind != Kind::query) out.push_back({tag + ":bare", bare});
      // The openers alone: a failure at the deepest level.
      if (s.kind == Kind::nesting || s.kind == Kind::pattern)
        out.push_back({tag + ":open", bare.substr(0, bare.size() / 2)});
      out.push_back({tag + ":query", as_query(s, n)});
    }
  }
  return out;
}

// ---- What one parse shows ----

// Every pair in tree order: rule, start, end, then its inner pairs between an
// open and a close mark. Walked with a stack of sibling runs, not recursion.
void hash_pairs(Pairs top, Fnv& h) {
  std::vector<Pairs> levels{top};
  while (!levels.empty()) {
    const std::optional<Pair> p = levels.back().next();
    if (!p) {
      levels.pop_back();
      h.u64(0xC105Eull);  // close
      continue;
    }
    h.u64(static_cast<std::uint64_t>(p->as_rule()));
    h.u64(p->start());
    h.u64(p->end());
    levels.push_back(p->into_inner());
  }
}

void hash_syntax_error(const torvane::parser::SyntaxError& e, Fnv& h) {
  h.u64(e.position);
  h.u64(e.expected.size());
  for (Rule r : e.expected) h.u64(static_cast<std::uint64_t>(r));
  h.u64(e.line);
  h.u64(e.column);
  h.str(e.line_text);
  h.str(e.message);
  h.str(e.display());
}

struct RuleResult {
  bool ok = false;
  ParserState::Stop product_stop{}, plain_stop{};
  std::uint64_t product = 0, plain = 0, product_attempts = 0, plain_attempts = 0;
};

struct TextResult {
  RuleResult rules[kNumStarts];
  std::uint64_t ast = 0;
  bool ast_ok = false;
  bool engines_differ =
      false;  // pairs or errors apart where the plain engine had the work to finish
};

// The outcome of one engine: verdict, pairs or error, and which bound stopped it.
std::uint64_t run_engine(ParserState& st, Rule start, std::string_view text, bool& ok) {
  Fnv h;
  auto r = CypherParser::parse_into(st, start, text);
  ok = r.ok();
  h.u64(ok);
  h.u64(static_cast<std::uint64_t>(st.stopped()));
  h.u64(st.stopped() == ParserState::Stop::none ? 0 : st.stopped_at());
  if (ok)
    hash_pairs(Pairs(st.tokens(), text), h);
  else
    hash_syntax_error(r.error(), h);
  return h.h;
}

TextResult run_text(std::string_view text) {
  thread_local ParserState product, plain;
  plain.set_memo(false);
  plain.set_shortcuts(false);
  TextResult out;
  for (std::size_t i = 0; i < kNumStarts; ++i) {
    RuleResult& rr = out.rules[i];
    bool plain_ok;
    rr.product = run_engine(product, kStarts[i], text, rr.ok);
    rr.product_attempts = product.attempts();
    rr.plain = run_engine(plain, kStarts[i], text, plain_ok);
    rr.plain_attempts = plain.attempts();
    rr.product_stop = product.stopped();
    rr.plain_stop = plain.stopped();
    if (plain.stopped() != ParserState::Stop::too_long && rr.product != rr.plain)
      out.engines_differ = true;
  }
  // The syntax tree through both entry points, or their errors.
  Fnv h;
  auto detail = torvane::parser::parse_with_detail(text);
  out.ast_ok = detail.ok();
  h.u64(detail.ok());
  if (detail.ok()) {
    h.str(torvane::test::dump(detail.value()));
  } else {
    const auto& e = detail.error();
    h.u64(e.position.has_value());
    if (e.position) h.u64(e.position->first), h.u64(e.position->second);
    h.str(e.message);
  }
  auto plain_parse = torvane::parser::parse(text);
  h.u64(plain_parse.ok());
  if (plain_parse.ok()) {
    h.str(torvane::test::dump(plain_parse.value()));
  } else {
    h.u64(static_cast<std::uint64_t>(plain_parse.error().kind));
    h.str(plain_parse.error().display());
  }
  out.ast = h.h;
  return out;
}

// ---- --edges ----

// The largest n in [0, 2000] whose text parses from `start` without reaching
// the nesting bound (the bound's reach grows with n, so a bisection finds it).
std::size_t edge(const std::function<std::string(std::size_t)>& make, Rule start) {
  ParserState st;
  auto deep = [&](std::size_t n) {
    (void)CypherParser::parse_into(st, start, make(n));
    return st.stopped() == ParserState::Stop::too_deep;
  };
  std::size_t lo = 0, hi = 2000;
  if (!deep(hi)) return hi;
  while (lo + 1 < hi) {
    const std::size_t mid = (lo + hi) / 2;
    (deep(mid) ? hi : lo) = mid;
  }
  return lo;
}

int print_edges() {
  for (const Shape& s : shapes()) {
    std::printf("%-14s", s.name);
    if (s.kind != Kind::query)
      std::printf(" expression %4zu  pattern %4zu ", edge(s.make, Rule::expression),
                  edge(s.make, Rule::pattern));
    const auto query = [&s](std::size_t n) { return as_query(s, n); };
    std::printf(" cypher %4zu  statement %4zu\n", edge(query, Rule::cypher),
                edge(query, Rule::statement));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool lines = false, edges = false;
  unsigned jobs = 3;
  std::filesystem::path dir = torvane::testing::corpus_dir();
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--lines")
      lines = true;
    else if (a == "--edges")
      edges = true;
    else if (a == "--jobs" && i + 1 < argc)
      jobs = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
    else if (!a.empty() && a[0] != '-')
      dir = a;
    else {
      std::fprintf(stderr, "usage: grammar_digest [corpus-dir] [--lines] [--jobs N] [--edges]\n");
      return 2;
    }
  }
  if (edges) return print_edges();

  const auto t0 = std::chrono::steady_clock::now();
  std::size_t corpus_count = 0;
  const std::vector<Text> texts = all_texts(dir, corpus_count);
  if (corpus_count == 0) {
    std::fprintf(stderr, "no corpus queries (*.jsonl) in %s\n", dir.c_str());
    return 1;
  }
  std::vector<TextResult> results(texts.size());
  // Texts are taken in small batches by the workers; each result lands in its
  // own slot, and the digests below read the slots in text order.
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    constexpr std::size_t kBatch = 64;
    for (std::size_t b; (b = next.fetch_add(kBatch)) < texts.size();)
      for (std::size_t i = b; i < std::min(b + kBatch, texts.size()); ++i)
        results[i] = run_text(texts[i].text);
  };
  std::vector<std::thread> pool;
  for (unsigned j = 1; j < jobs; ++j) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();

  Fnv product, plain, product_attempts, plain_attempts, ast;
  std::size_t ok[kNumStarts] = {}, ast_ok = 0, differ = 0;
  std::size_t stops[kNumStarts][2][3] = {};  // by start rule, engine and bound
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const TextResult& r = results[i];
    for (std::size_t k = 0; k < kNumStarts; ++k) {
      product.u64(r.rules[k].product);
      plain.u64(r.rules[k].plain);
      product_attempts.u64(r.rules[k].product_attempts);
      plain_attempts.u64(r.rules[k].plain_attempts);
      ok[k] += r.rules[k].ok;
      ++stops[k][0][static_cast<std::size_t>(r.rules[k].product_stop)];
      ++stops[k][1][static_cast<std::size_t>(r.rules[k].plain_stop)];
      if (lines)
        std::printf("%zu %s %s %s %016llx %016llx %llu %llu\n", i, texts[i].origin.c_str(),
                    kStartNames[k], r.rules[k].ok ? "ok" : "fail",
                    static_cast<unsigned long long>(r.rules[k].product),
                    static_cast<unsigned long long>(r.rules[k].plain),
                    static_cast<unsigned long long>(r.rules[k].product_attempts),
                    static_cast<unsigned long long>(r.rules[k].plain_attempts));
    }
    ast.u64(r.ast);
    ast_ok += r.ast_ok;
    differ += r.engines_differ;
    if (lines)
      std::printf("%zu %s tree %s %016llx\n", i, texts[i].origin.c_str(), r.ast_ok ? "ok" : "fail",
                  static_cast<unsigned long long>(r.ast));
  }
  Fnv total;
  for (const Fnv* f : {&product, &plain, &product_attempts, &plain_attempts, &ast}) total.u64(f->h);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  std::printf("texts %zu (corpus queries %zu)\n", texts.size(), corpus_count);
  for (std::size_t k = 0; k < kNumStarts; ++k)
    std::printf(
        "start %-10s ok %zu fail %zu; too deep %zu, too long %zu (plain engine: %zu, %zu)\n",
        kStartNames[k], ok[k], texts.size() - ok[k], stops[k][0][1], stops[k][0][2], stops[k][1][1],
        stops[k][1][2]);
  std::printf("syntax tree  ok %zu fail %zu\n", ast_ok, texts.size() - ast_ok);
  std::printf("texts where the engines disagree (plain engine within its work bound): %zu\n",
              differ);
  std::printf("digest pairs+errors (product engine) %016llx\n",
              static_cast<unsigned long long>(product.h));
  std::printf("digest pairs+errors (plain engine)   %016llx\n",
              static_cast<unsigned long long>(plain.h));
  std::printf("digest attempts (product engine)     %016llx\n",
              static_cast<unsigned long long>(product_attempts.h));
  std::printf("digest attempts (plain engine)       %016llx\n",
              static_cast<unsigned long long>(plain_attempts.h));
  std::printf("digest syntax trees                  %016llx\n",
              static_cast<unsigned long long>(ast.h));
  std::printf("digest total                         %016llx\n",
              static_cast<unsigned long long>(total.h));
  std::fprintf(stderr, "%.1f s\n", secs);
  return 0;
}
