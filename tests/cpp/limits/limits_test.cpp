// Hostile inputs: texts whose parse would take exponential time, and the
// per-process hash keys that decide the order of findings inside map literals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "parser/parse.hpp"
#include "schema/schema.hpp"
#include "validator/torvane.hpp"

namespace torvane {
namespace {

std::string nested(const std::string& open, const std::string& inner, const std::string& close,
                   int depth) {
  std::string q = "RETURN ";
  for (int i = 0; i < depth; ++i) q += open;
  q += inner;
  for (int i = 0; i < depth; ++i) q += close;
  return q;
}

// Each level of these is read several times over by alternatives that fail
// late; the parser remembers those attempts, so even the deepest take time
// linear in their length and parse.
TEST(ParseWork, BoundedForNestingThatIsReadAgain) {
  struct Case {
    std::string open, inner, close;
    int parses_at;  // a depth that real queries never reach, still accepted
  };
  const std::vector<Case> cases = {
      {"[x IN ", "[1]", " | x]", 8},
      {"[x IN ", "[1]", " WHERE x > 0]", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.open);
    EXPECT_TRUE(parser::parse(nested(c.open, c.inner, c.close, c.parses_at)).ok());
    const std::string deep = nested(c.open, c.inner, c.close, 40);
    EXPECT_TRUE(parser::parse_with_detail(deep).ok());
    const validator::Torvane torvane{schema::Schema{}};
    EXPECT_TRUE(torvane.validate(deep).syntax_errors.empty());
  }
}

// RETURN {k0: v0, k1: v1, ...}: every value is an unbound variable, and the
// findings come in the map's iteration order.
constexpr int kKeys = 24;

std::string map_query() {
  std::string q = "RETURN {";
  for (int i = 0; i < kKeys; ++i) q += (i ? ", k" : "k") + std::to_string(i) + ": v" + std::to_string(i);
  return q + "}";
}

std::string finding_order() {
  const validator::Torvane torvane{schema::Schema{}};
  std::string order;
  for (const auto& d : torvane.validate(map_query()).diagnostics) order += d.message + "\n";
  return order;
}

// How to run this program again: a cross build's tests run under an emulator,
// which meson test names in MESON_EXE_WRAPPER; natively the program itself.
std::string self_command;

TEST(HashKeys, MapFindingsComeInAnotherOrderInAnotherProcess) {
  std::set<std::string> orders;
  for (int run = 0; run < 6; ++run) {
    FILE* child = popen((self_command + " --print-map-order").c_str(), "r");
    ASSERT_NE(child, nullptr);
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, child)) > 0;) out.append(buf, n);
    ASSERT_EQ(pclose(child), 0);
    // Always all of them, whatever the order.
    std::multiset<std::string> lines, expected;
    for (std::size_t at = 0, nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1)
      lines.insert(out.substr(at, nl - at));
    // Appended rather than prefixed: g++ 12 warns falsely (-Wrestrict) about
    // the insertion at the front that a literal + string makes on 32 bits.
    for (int i = 0; i < kKeys; ++i)
      expected.insert(std::string("Variable 'v")
                          .append(std::to_string(i))
                          .append("' is not bound in this scope"));
    EXPECT_EQ(lines, expected);
    orders.insert(out);
  }
  // Six processes agreeing on one order of 24 keys would mean fixed keys.
  EXPECT_GT(orders.size(), 1u);
}

}  // namespace
}  // namespace torvane

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--print-map-order") {
    std::fputs(torvane::finding_order().c_str(), stdout);
    return 0;
  }
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 2;
  const char* wrapper = std::getenv("MESON_EXE_WRAPPER");
  if (wrapper != nullptr && *wrapper != '\0') torvane::self_command = std::string(wrapper) + ' ';
  torvane::self_command.append(self, static_cast<std::size_t>(n));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
