#include "parser/cypher_parser.hpp"

#include "parser/engine.hpp"
#include "parser/grammar.hpp"

namespace torvane::parser {

Pairs ParseTree::pairs() const {
  return Pairs(tokens, text);
}

Result<bool, SyntaxError> CypherParser::parse_into(ParserState& state, Rule start, std::string_view text) {
  const RuleFn run = grammar::rule_functions[static_cast<std::size_t>(start)];
  // Most texts parse: the first run makes only the tree, and only a failed
  // one runs again to find what was expected where.
  state.set_pass(ParserState::Pass::tree);
  state.reset(text);
  bool ok = run(state);
  if (!ok && state.stopped() == ParserState::Stop::none) {
    state.set_pass(ParserState::Pass::report);
    state.reset(text);
    ok = run(state);
  }
  switch (state.stopped()) {
    case ParserState::Stop::none: break;
    case ParserState::Stop::too_deep: return Err{make_nesting_error(text, state.stopped_at())};
    case ParserState::Stop::too_long: return Err{make_work_error(text, state.stopped_at())};
  }
  if (ok) {
    state.finish();
    return true;
  }
  std::vector<Rule> expected = state.expected();
  // Only a start rule that records nothing of its own (a silent rule) can
  // leave the list empty.
  if (expected.empty()) expected.push_back(start);
  return Err{make_syntax_error(text, state.furthest(), std::move(expected))};
}

Result<ParseTree, SyntaxError> CypherParser::parse(Rule start, std::string_view text) {
  // One state per thread, so its token list keeps its capacity between parses.
  thread_local ParserState state;
  auto r = parse_into(state, start, text);
  if (!r.ok()) return Err{std::move(r).error()};
  const std::span<const Token> tokens = state.tokens();
  ParseTree tree{std::vector<Token>(tokens.begin(), tokens.end()), text};
  return tree;
}

}  // namespace torvane::parser
