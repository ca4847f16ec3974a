#pragma once
// The memo of a parse: rule attempts remembered by (slot, position), so that
// a later attempt of the rule at the same position replays the first one
// (ParserState::memo_rule). It owns the cells, the remembered attempts, the
// tokens of remembered successes that had to leave the parse state's working
// token list, their failure records, and the list of successes whose tokens
// still lie in place in the working list.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "parser/pairs.hpp"
#include "parser/rule.hpp"

namespace torvane::parser {

// Number of rules whose attempts are remembered; the grammar assigns each its
// slot.
inline constexpr std::size_t kMemoSlots = 3;

// One remembered attempt. The tokens of a success stay where the attempt
// wrote them in the working list while nothing overwrites them ("in place");
// they move to the memo's own list just before something would. Its failure
// records lie in the memo's own list.
struct MemoEntry {
  std::uint32_t end;          // position after a success
  std::uint32_t first, last;  // its tokens, in the working list or the memo's
  std::uint32_t expected_begin, expected_end;
  std::uint32_t furthest;  // where the attempt's own failure records stand
  std::uint32_t depth;     // nested attempts below its own, at most
  bool ok;
  bool in_place;
};

class Memo {
 public:
  // Cells: never attempted, attempted once, or the index of an entry plus
  // kFirstEntry.
  static constexpr std::uint32_t kUnseen = 0, kSeen = 1, kFirstEntry = 2;
  // A token of the working list that stands for the tokens of a remembered
  // success: its `partner` is the entry's index. Replaying a run by one
  // token keeps the work linear where remembered runs lie within one another.
  static constexpr Rule kRunToken = Rule::count;

  // Starts a fresh parse of a text of `size` bytes, with cells for it when
  // `cells` (the memo is on); keeps the vectors' capacity.
  void reset(std::size_t size, bool cells);
  // Frees what a parse grew past `keep` tokens' worth.
  void release_above(std::size_t keep);

  std::uint32_t& cell(std::uint32_t pos, std::size_t slot) {
    return cells_[std::size_t{pos} * kMemoSlots + slot];
  }
  // The cell of (pos, slot), still kUnseen, is about to be written.
  void first_write(std::uint32_t pos, std::size_t slot) {
    if (nwritten_ < kListedWrites) written_[nwritten_] = std::size_t{pos} * kMemoSlots + slot;
    ++nwritten_;
  }
  const MemoEntry& entry(std::uint32_t index) const { return entries_[index]; }
  std::span<const Rule> records(const MemoEntry& e) const {
    return std::span<const Rule>(expected_).subspan(e.expected_begin,
                                                    e.expected_end - e.expected_begin);
  }
  // Remembers `e`, whose tokens (a success's) lie in place in `working`, with
  // its failure records; gives its cell value.
  std::uint32_t add(MemoEntry e, std::span<const Rule> records, const Token* working) {
    const auto index = static_cast<std::uint32_t>(entries_.size());
    e.in_place = true;
    if (e.last > e.first) {
      // A run left after this one (wholly after it: see before_write) goes,
      // so that ends never decrease along live_.
      if (e.last < guard_) save_runs_from(e.last, working);
      live_.push_back(index);
      guard_ = e.last;
    }
    e.expected_begin = static_cast<std::uint32_t>(expected_.size());
    expected_.insert(expected_.end(), records.begin(), records.end());
    e.expected_end = static_cast<std::uint32_t>(expected_.size());
    entries_.push_back(e);
    return index + kFirstEntry;
  }
  // Tokens moved out of the working list in this parse, a measure of the work.
  std::size_t tokens_saved() const { return tokens_.size(); }

  // The end of the last in-place run (0 when there is none): a write to the
  // working list below it must call before_write first.
  std::uint32_t guard() const { return guard_; }
  // A token is about to be written at `at` of `working`.
  [[gnu::noinline]] void before_write(std::uint32_t at, const Token* working);
  // The token at `at` of the working list went, which now holds `ntokens`.
  void token_dropped(std::uint32_t at, std::uint32_t ntokens);

  // Whether a run token was made in this parse.
  bool has_runs() const { return runs_; }
  void run_made() { runs_ = true; }
  // Writes the tokens [first, last) of `working` into `tree`, each run in
  // place of its token, pairs nesting at most `max_depth` deep.
  void spell_out(const Token* first, const Token* last, const Token* working,
                 std::vector<Token>& tree, std::uint32_t max_depth);

 private:
  // Moves the in-place runs that writes from `at` on would overwrite to the memo's list.
  void save_runs_from(std::uint32_t at, const Token* working);
  void spell(const Token* first, const Token* last, const Token* working, std::vector<Token>& tree,
             std::uint32_t& depth);

  // kMemoSlots cells per text position, kUnseen but for the first nwritten_
  // in written_, which the next reset clears: a parse then costs time for
  // the cells it wrote, not for the length of its text. A parse that writes
  // more than the list holds has the whole table cleared, which costs little
  // beside a parse that long.
  static constexpr std::size_t kListedWrites = 1 << 12;
  std::vector<std::uint32_t> cells_;
  std::vector<std::size_t> written_;  // kListedWrites long once the cells are used
  std::size_t nwritten_ = 0;
  std::vector<MemoEntry> entries_;
  std::vector<Token> tokens_;
  std::vector<Rule> expected_;
  // The in-place successes, in the order they were made; their ends never
  // decrease along it, and guard_ is the last one's end (0 when there is none).
  std::vector<std::uint32_t> live_;
  std::uint32_t guard_ = 0;
  std::vector<std::uint32_t> open_;  // room for spell's opening tokens not yet closed
  bool runs_ = false;
};

}  // namespace torvane::parser
