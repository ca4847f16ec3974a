// Reads the real schemas of the query corpus ($TORVANE_CORPUS/schemas, else the
// shared corpus beside the repository); without them the test is skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "parser/corpus.hpp"
#include "schema/schema.hpp"

namespace {

namespace fs = std::filesystem;
using torvane::schema::Schema;

TEST(SchemaCorpus, EverySchemaReadsAndRoundTrips) {
  const fs::path dir = torvane::testing::corpus_dir() / "schemas";
  if (!fs::is_directory(dir)) GTEST_SKIP() << "no schema folder at " << dir;
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".json") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    auto r = Schema::deserialize(text.str());
    ASSERT_TRUE(r.ok()) << entry.path() << ": " << r.error();
    EXPECT_FALSE(r->nodes.empty()) << entry.path();
    std::string written;
    r->serialize(written);
    auto back = Schema::deserialize(written);
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(back->node_labels(), r->node_labels());
    for (auto label : r->node_labels())
      EXPECT_EQ(back->node_properties(label), r->node_properties(label));
    for (auto type : r->rel_types()) {
      EXPECT_EQ(back->rel_properties(type), r->rel_properties(type));
      EXPECT_EQ(back->rel_src_tgt(type), r->rel_src_tgt(type));
    }
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
