#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "json/writer.hpp"
#include "schema/schema.hpp"

namespace {

using torvane::schema::RelationshipDef;
using torvane::schema::Schema;
using Views = std::vector<std::string_view>;

std::string write(const Schema& s) {
  std::string out;
  s.serialize(out);
  return out;
}

std::string error_of(std::string_view text) {
  auto r = Schema::deserialize(text);
  return r.ok() ? "<ok>" : r.error();
}

struct ErrorCase {
  std::string_view text;
  std::string_view error;
};

// Each text with the complete error it gives.
const ErrorCase kErrors[] = {
    // The document itself.
    {"", "EOF while parsing a value at line 1 column 0"},
    {"   ", "EOF while parsing a value at line 1 column 3"},
    {"x", "expected value at line 1 column 1"},
    {"{}", "missing field `nodes` at line 1 column 2"},
    {"{\"relationships\":{}}", "missing field `nodes` at line 1 column 20"},
    {"{\"nodes\":{}}", "missing field `relationships` at line 1 column 12"},
    {"{\n\"nodes\":{}\n}", "missing field `relationships` at line 3 column 1"},
    {"{\"nodes\":{},\"nodes\":{}}", "duplicate field `nodes` at line 1 column 19"},
    {"{\"nodes\":{},\"relationships\":{},\"relationships\":x",
     "duplicate field `relationships` at line 1 column 46"},
    {"{\"nodes\":{},\"relationships\":{}} x", "trailing characters at line 1 column 33"},
    {"[]", "invalid length 0, expected struct Schema with 2 elements at line 1 column 2"},
    {"[{} ]", "invalid length 1, expected struct Schema with 2 elements at line 1 column 5"},
    {"[{},{},{}]", "trailing characters at line 1 column 8"},
    {"[{},{},]", "trailing comma at line 1 column 8"},
    {"[{},{}", "EOF while parsing a list at line 1 column 6"},
    {"[{},", "EOF while parsing a value at line 1 column 4"},
    {"[{};", "expected `,` or `]` at line 1 column 4"},
    // Values of the wrong type, described.
    {"true", "invalid type: boolean `true`, expected struct Schema at line 1 column 4"},
    {" false", "invalid type: boolean `false`, expected struct Schema at line 1 column 6"},
    {"null", "invalid type: null, expected struct Schema at line 1 column 4"},
    {"-12", "invalid type: integer `-12`, expected struct Schema at line 1 column 3"},
    {"18446744073709551615",
     "invalid type: integer `18446744073709551615`, expected struct Schema at line 1 column 20"},
    {"-9223372036854775808",
     "invalid type: integer `-9223372036854775808`, expected struct Schema at line 1 column 20"},
    // Integers beyond 64 bits keep their digits as written.
    {"18446744073709551616",
     "invalid type: integer `18446744073709551616`, expected struct Schema at line 1 column 20"},
    {"-9223372036854775809",
     "invalid type: integer `-9223372036854775809`, expected struct Schema at line 1 column 20"},
    {"{\"nodes\":{\"A\":[123456789012345678901234567890]},\"relationships\":{}}",
     "invalid type: integer `123456789012345678901234567890`, expected a string at line 1 "
     "column 45"},
    {"-0", "invalid type: integer `0`, expected struct Schema at line 1 column 2"},
    {"1e300", "invalid type: floating point `1e+300`, expected struct Schema at line 1 column 5"},
    {"1.5", "invalid type: floating point `1.5`, expected struct Schema at line 1 column 3"},
    {"2E2", "invalid type: floating point `200.0`, expected struct Schema at line 1 column 3"},
    {"-1e-400", "invalid type: floating point `-0.0`, expected struct Schema at line 1 column 7"},
    {"\"a\\tb\\u0000\\\"\\u00e9\\u200b\\\\\\u001b\"",
     "invalid type: string \"a\\tb\\0\\\"\xc3\xa9\\u{200b}\\\\\\u{1b}\", expected struct Schema at "
     "line 1 column 34"},
    {"\"\\ud83d\\ude00 \xcc\x81\"",
     "invalid type: string \"\xf0\x9f\x98\x80 \\u{301}\", expected struct Schema at line 1 "
     "column 17"},
    {"{\"nodes\":[],\"relationships\":{}}",
     "invalid type: sequence, expected a map at line 1 column 9"},
    {"{\"nodes\":{\"A\":[1]},\"relationships\":{}}",
     "invalid type: integer `1`, expected a string at line 1 column 16"},
    {"{\"nodes\":{\"A\":\"x\"},\"relationships\":{}}",
     "invalid type: string \"x\", expected a sequence at line 1 column 17"},
    {"{\"nodes\":{},\"relationships\":{\"R\":{}}}",
     "invalid type: map, expected a tuple of size 3 at line 1 column 33"},
    {"{\"nodes\":{},\"relationships\":[]}",
     "invalid type: sequence, expected a map at line 1 column 28"},
    {"{\"nodes\":{},\"relationships\":{\"R\":[\"A\",null,[]]}}",
     "invalid type: null, expected a string at line 1 column 42"},
    {"{\"nodes\":{},\"relationships\":{\"R\":[\"A\",\"B\",{}]}}",
     "invalid type: map, expected a sequence at line 1 column 42"},
    {"{\"nodes\":{},\"relationships\":{\"R\":[\"A\",\"B\"]}}",
     "invalid length 2, expected a tuple of size 3 at line 1 column 42"},
    {"{\"nodes\":{},\"relationships\":{\"R\":[]}}",
     "invalid length 0, expected a tuple of size 3 at line 1 column 35"},
    {"{\"nodes\":{},\"relationships\":{\"R\":[\"A\",\"B\",[],\"C\"]}}",
     "trailing characters at line 1 column 46"},
    {"{\"nodes\":{},\"relationships\":{\"R\":[\"A\",\"B\",[],]}}",
     "trailing comma at line 1 column 46"},
    // Numbers.
    {"01", "invalid number at line 1 column 2"},
    {"-", "EOF while parsing a value at line 1 column 1"},
    {"-x", "invalid number at line 1 column 2"},
    {"1.", "EOF while parsing a value at line 1 column 2"},
    {"1.x", "invalid number at line 1 column 3"},
    {"1e", "EOF while parsing a value at line 1 column 2"},
    {"1e+x", "invalid number at line 1 column 4"},
    {"1e400", "number out of range at line 1 column 5"},
    {"-1234567890123456789012345678901234567890e300", "number out of range at line 1 column 45"},
    // Literals.
    {"tru", "EOF while parsing a value at line 1 column 3"},
    {"trux", "expected ident at line 1 column 4"},
    {"nul!", "expected ident at line 1 column 4"},
    // Strings.
    {"\"abc", "EOF while parsing a string at line 1 column 4"},
    {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
    {"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
    {"{\"nodes\":{\"A\":[\"\\q\"]}}", "invalid escape at line 1 column 18"},
    {"\"\\", "EOF while parsing a string at line 1 column 2"},
    {"\"\\u12\"", "EOF while parsing a string at line 1 column 6"},
    {"\"\\u12x4\"", "invalid escape at line 1 column 7"},
    {"\"\\udc00\"", "lone leading surrogate in hex escape at line 1 column 7"},
    {"\"\\ud800\"", "unexpected end of hex escape at line 1 column 8"},
    {"\"\\ud800\\n\"", "unexpected end of hex escape at line 1 column 9"},
    {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
    {"\"\\ud800", "EOF while parsing a string at line 1 column 7"},
    {"{\"nodes\":{\"\xff\":[]},\"relationships\":{}}",
     "invalid unicode code point at line 1 column 12"},
    {"{\"nodes\":{\"\xed\xa0\x80\":[]},\"relationships\":{}}",  // an encoded surrogate
     "invalid unicode code point at line 1 column 12"},
    {"\"\xe2\x82\"", "invalid unicode code point at line 1 column 2"},
    // Objects.
    {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
    {"{\"a\" x", "expected `:` at line 1 column 6"},
    {"{1", "key must be a string at line 1 column 2"},
    {"{,", "key must be a string at line 1 column 2"},
    {"{\"nodes\":{},}", "trailing comma at line 1 column 13"},
    {"{\"nodes\":{} \"x\"", "expected `,` or `}` at line 1 column 13"},
    {"{\"nodes\":{},", "EOF while parsing a value at line 1 column 12"},
    {"{\"nodes\":{\"A\":[]", "EOF while parsing an object at line 1 column 16"},
    {"{\"nodes\":", "EOF while parsing a value at line 1 column 9"},
    // Members with other keys: JSON syntax only, at any depth.
    {"{\"x\":[1,]}", "trailing comma at line 1 column 9"},
    {"{\"x\":[1 2]}", "expected `,` or `]` at line 1 column 9"},
    {"{\"x\":{\"a\":1,}}", "trailing comma at line 1 column 13"},
    {"{\"x\":{\"a\" 1}}", "expected `:` at line 1 column 11"},
    {"{\"x\":{1:1}}", "key must be a string at line 1 column 7"},
    {"{\"x\":[{\"a\":[}]}", "expected value at line 1 column 13"},
    {"{\"x\":[[[", "EOF while parsing a list at line 1 column 8"},
    {"{\"x\":{\"a\":{", "EOF while parsing an object at line 1 column 11"},
    {"{\"x\":\"\\x\"}", "invalid escape at line 1 column 8"},
    {"{\"x\":-}", "invalid number at line 1 column 7"},
};

TEST(SchemaJson, ErrorTexts) {
  for (const auto& c : kErrors) EXPECT_EQ(error_of(c.text), c.error) << "text: " << c.text;
}

// An integer beyond any double is still an integer, not "number out of range".
TEST(SchemaJson, HugeIntegerKeepsItsDigits) {
  const std::string digits = "1" + std::string(400, '0');
  EXPECT_EQ(error_of("[" + digits + "]"),
            "invalid type: integer `" + digits + "`, expected a map at line 1 column 402");
  EXPECT_EQ(error_of("[1" + std::string(400, '0') + ".0]"),
            "number out of range at line 1 column 404");
}

TEST(SchemaJson, AcceptedShapes) {
  for (std::string_view text : {
           "{\"nodes\":{},\"relationships\":{}}",
           "{\"relationships\":{},\"nodes\":{}}",
           "[{},{}]",
           " \t\r\n[ {} , {} ] \n",
           "{\"nodes\":{},\"relationships\":{},\"title\":[1,{\"role\":[[[]]]}]}",
           "{\"x\":[true,false,null,-0.5e+3,\"\\ud800\",{\"\":{}}],\"nodes\":{},"
           "\"relationships\":{}}",
           "{\"x\":1e999,\"nodes\":{},\"relationships\":{}}",  // skipped: syntax only
       }) {
    auto r = Schema::deserialize(text);
    ASSERT_TRUE(r.ok()) << text << ": " << r.error();
    EXPECT_TRUE(r->nodes.empty() && r->relationships.empty()) << text;
  }
}

TEST(SchemaJson, ReadsContent) {
  auto r = Schema::deserialize(
      "{\"nodes\":{\"Person\":[\"name\",\"name\",\"age\"],\"A\":[\"x\"],\"A\":[\"y\"],"
      "\"K\\u00e9y\":[]},"
      "\"relationships\":{\"R\":[\"A\",\"B\",[\"w\"]],\"S\":[\"X\",\"Y\",[]],\"S\":[\"A\",\"B\",[]]}}");
  ASSERT_TRUE(r.ok()) << r.error();
  const Schema& s = *r;
  EXPECT_EQ(s.node_labels(), (Views{"A", "K\xc3\xa9y", "Person"}));
  EXPECT_EQ(s.node_properties("Person"), (Views{"age", "name"}));
  EXPECT_EQ(s.node_properties("person"), Views{});
  EXPECT_EQ(s.node_properties("A"), Views{"y"});
  EXPECT_EQ(s.rel_properties("R"), Views{"w"});
  // Endpoints need not be node labels; the last S wins.
  EXPECT_EQ(s.rel_src_tgt("R"), (std::pair<std::string_view, std::string_view>{"A", "B"}));
  EXPECT_EQ(s.rel_src_tgt("S"), (std::pair<std::string_view, std::string_view>{"A", "B"}));
  EXPECT_FALSE(s.rel_src_tgt("T").has_value());
}

TEST(SchemaJson, DeepNestingNeitherCrashesNorRecurses) {
  constexpr std::size_t kDepth = 1'000'000;
  std::string open = "{\"x\":" + std::string(kDepth, '[');
  EXPECT_EQ(error_of(open), "EOF while parsing a list at line 1 column " +
                                std::to_string(open.size()));
  std::string closed = open + std::string(kDepth, ']') + ",\"nodes\":{},\"relationships\":{}}";
  EXPECT_EQ(error_of(closed), "<ok>");
  std::string objects = "{\"x\":";
  for (std::size_t i = 0; i < kDepth; ++i) objects += "{\"a\":";
  EXPECT_EQ(error_of(objects), "EOF while parsing a value at line 1 column " +
                                   std::to_string(objects.size()));
  // Nesting inside the known members fails at the first level too deep.
  EXPECT_EQ(error_of("{\"nodes\":{\"A\":[[[[[[[["),
            "invalid type: sequence, expected a string at line 1 column 15");
}

TEST(SchemaJson, WritesCompactEscapedText) {
  EXPECT_EQ(write(Schema{}), "{\"nodes\":{},\"relationships\":{}}");
  Schema s;
  s.nodes["Person"] = {"name"};
  s.relationships["KNOWS"] = RelationshipDef{"Person", "Person", {}};
  EXPECT_EQ(write(s),
            "{\"nodes\":{\"Person\":[\"name\"]},\"relationships\":{\"KNOWS\":[\"Person\","
            "\"Person\",[]]}}");

  Schema odd;
  odd.nodes["a\"b\nc"];
  EXPECT_EQ(write(odd), "{\"nodes\":{\"a\\\"b\\nc\":[]},\"relationships\":{}}");
}

TEST(SchemaJson, StringEscapes) {
  std::string all;
  for (int c = 0; c < 0x20; ++c) all.push_back(static_cast<char>(c));
  all += "\"\\/\x7f\xc3\xa9 ";
  std::string out;
  torvane::json::write_string(out, all);
  EXPECT_EQ(out,
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r"
            "\\u000e\\u000f\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018"
            "\\u0019\\u001a\\u001b\\u001c\\u001d\\u001e\\u001f\\\"\\\\/\x7f\xc3\xa9 \"");
}

TEST(SchemaJson, WriterPlacesSeparators) {
  std::string out;
  torvane::json::Writer w(out);
  w.begin_object().key("a").begin_array().end_array().key("b").begin_array().uint(0).uint(
      4294967296);
  w.begin_object().end_object().null().boolean(true).boolean(false).string("s").end_array();
  w.key("c").begin_object().key("d").null().end_object().end_object();
  EXPECT_EQ(out, "{\"a\":[],\"b\":[0,4294967296,{},null,true,false,\"s\"],\"c\":{\"d\":null}}");
}

Schema odd_schema() {
  Schema s;
  for (const char* label : {"Person", "", "a\"b", "x\\y", "tab\there", "\x1b\x7f", "\xc3\xa9t\xc3\xa9"})
    s.nodes[label] = {"name", "", "line\nbreak", "\xf0\x9f\x98\x80"};
  s.nodes["Empty"];
  s.relationships["KNOWS"] = RelationshipDef{"Person", "Person", {"since", "w\"eight"}};
  s.relationships[""] = RelationshipDef{"", "Nowhere", {}};
  return s;
}

TEST(SchemaJson, RoundTripKeepsContent) {
  const Schema s = odd_schema();
  auto back = Schema::deserialize(write(s));
  ASSERT_TRUE(back.ok()) << back.error();
  EXPECT_EQ(back->node_labels(), s.node_labels());
  for (auto label : s.node_labels())
    EXPECT_EQ(back->node_properties(label), s.node_properties(label)) << label;
  EXPECT_EQ(back->rel_types(), s.rel_types());
  for (auto type : s.rel_types()) {
    EXPECT_EQ(back->rel_properties(type), s.rel_properties(type));
    EXPECT_EQ(back->rel_src_tgt(type), s.rel_src_tgt(type));
  }
}

TEST(SchemaJson, CopyWritesTheSameText) {
  const Schema s = odd_schema();
  const Schema copy = s;  // NOLINT(performance-unnecessary-copy-initialization)
  EXPECT_EQ(write(copy), write(s));
  Schema assigned;
  assigned = s;
  EXPECT_EQ(write(assigned), write(s));
}

}  // namespace

namespace {

// Mutated schema texts: every outcome is a schema or a positioned error, and
// an error's position lies within the text.
TEST(SchemaJson, MutatedTextsFailCleanly) {
  const std::string seed =
      "{\"nodes\":{\"P\\u00e9rson\":[\"name\",\"a\\\"ge\"],\"M\":[]},\"x\":[1.5e3,-0,{\"y\":"
      "[true,false,null]}],\"relationships\":{\"R\":[\"P\",\"M\",[\"w\"]]}}";
  const std::string alphabet = "{}[]\",:\\u0e-+.9 \ntfnx\xc3\xa9\xff";
  std::uint32_t state = 12345;
  const auto next = [&] {  // xorshift32: reproducible, no library state
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  int failures = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text = seed;
    for (int edits = 1 + static_cast<int>(next() % 3); edits > 0; --edits) {
      const std::size_t at = next() % (text.size() + 1);
      const char c = alphabet[next() % alphabet.size()];
      switch (next() % 3) {
        case 0: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c); break;
        case 1: if (at < text.size()) text.erase(at, 1); break;
        default: if (at < text.size()) text[at] = c;
      }
    }
    auto r = Schema::deserialize(text);
    if (r.ok()) continue;
    ++failures;
    const std::string& e = r.error();
    const auto line_at = e.rfind(" at line ");
    ASSERT_NE(line_at, std::string::npos) << e;
    const auto col_at = e.rfind(" column ");
    const std::size_t line = std::stoul(e.substr(line_at + 9));
    const std::size_t column = std::stoul(e.substr(col_at + 8));
    EXPECT_GE(line, 1u);
    EXPECT_LE(column, text.size()) << e;
  }
  EXPECT_GT(failures, 10000);
}

}  // namespace
