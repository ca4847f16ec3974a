#include "parser/engine.hpp"

#include <algorithm>

namespace torvane::parser {

// Offset of the first "*/" at or after `from`, or kNotFound.
std::uint32_t ParserState::find_block_end(std::uint32_t from) const {
  const std::string_view rest = text_.substr(std::min<std::size_t>(from, text_.size()));
  const std::size_t at = rest.find("*/");
  return at == std::string_view::npos ? kNotFound : static_cast<std::uint32_t>(from + at);
}

// `k` is what the expected list held at `p` when the attempt began. A single
// entry recorded at `p` by an inner attempt stands for this rule; two or more
// are replaced by it, so a report names the rule that was really missing.
void ParserState::record_failure(Rule r, std::uint32_t p, std::uint32_t k) {
  if (p == furthest_) {
    if (expected_.size() == std::size_t{k} + 1) return;
    expected_.resize(std::min<std::size_t>(k, expected_.size()));
    expected_.push_back(r);
  } else {  // p > furthest_
    furthest_ = p;
    expected_.clear();
    expected_.push_back(r);
  }
}

void ParserState::grow_tokens() {
  tokens_.resize(tokens_.empty() ? 256 : tokens_.size() * 2);
}

// From here on every rule attempt fails at once, so the parse unwinds in time
// proportional to the depth reached. The first bound hit is the one reported.
void ParserState::bound_hit(std::uint32_t p) {
  if (stop_ == Stop::none) {
    stop_ = depth_ >= depth_limit_ ? Stop::too_deep : Stop::too_long;
    stop_at_ = p;
  }
  depth_limit_ = 0;
  attempts_left_ = 0;
}

}  // namespace torvane::parser
