// The generator on a fuzzed schema and seed. Every query type generates, the
// stream depends only on the schema's content and the seed, and every generated
// query parses, whatever the names (those that are no plain identifiers are
// written between backticks).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_common.hpp"
#include "generator/generator.hpp"
#include "parser/parse.hpp"
#include "schema/schema.hpp"

using torvane::generator::CypherGenerator;
using torvane::generator::kQueryTypes;
using torvane::schema::Schema;

namespace {

// "Q" or "q" and up to eight word characters: never a keyword, always a name.
std::string identifier(FuzzedDataProvider& in, char first) {
  static constexpr std::string_view kChars =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
  std::string name(1, first);
  const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < n; ++i)
    name.push_back(kChars[in.ConsumeIntegralInRange<std::size_t>(0, kChars.size() - 1)]);
  return name;
}

// Any UTF-8 text, as Python could pass it.
std::string any_name(FuzzedDataProvider& in) {
  std::string name = in.ConsumeRandomLengthString(12);
  return torvane::fuzz::valid_utf8(name) ? name : std::string("x");
}

Schema make_schema(FuzzedDataProvider& in, bool plain) {
  auto name = [&](char first) { return plain ? identifier(in, first) : any_name(in); };
  Schema s;
  std::vector<std::string> labels;
  const int label_count = in.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < label_count; ++i) {
    labels.push_back(name('Q'));
    auto& props = s.nodes[labels.back()];
    const int prop_count = in.ConsumeIntegralInRange(0, 5);
    for (int k = 0; k < prop_count; ++k) props.insert(name('q'));
  }
  const int rel_count = in.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < rel_count; ++i) {
    // Endpoints are mostly known labels, sometimes labels the schema lacks.
    auto endpoint = [&] {
      if (!labels.empty() && in.ConsumeIntegralInRange(0, 3) != 0)
        return labels[in.ConsumeIntegralInRange<std::size_t>(0, labels.size() - 1)];
      return name('Q');
    };
    torvane::schema::RelationshipDef def;
    def.source = endpoint();
    def.target = endpoint();
    const int prop_count = in.ConsumeIntegralInRange(0, 3);
    for (int k = 0; k < prop_count; ++k) def.properties.insert(name('q'));
    s.relationships.insert_or_assign(name('Q'), std::move(def));
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const bool plain = in.ConsumeBool();
  const Schema schema = make_schema(in, plain);
  const std::uint64_t seed = in.ConsumeIntegral<std::uint64_t>();

  // Same content with other hash keys: a schema read back from its JSON form.
  std::string json;
  schema.serialize(json);
  auto reread = Schema::deserialize(json);
  FUZZ_CHECK(reread.ok(), json);

  CypherGenerator a(schema, seed);
  CypherGenerator b(std::move(*reread), seed);
  const int rounds = in.ConsumeIntegralInRange(1, 16);
  for (int r = 0; r < rounds; ++r) {
    const std::string_view type =
        kQueryTypes[in.ConsumeIntegralInRange<std::size_t>(0, kQueryTypes.size() - 1)];
    auto qa = a.generate(type);
    auto qb = b.generate(type);
    FUZZ_CHECK(qa.ok() && qb.ok(), type);
    FUZZ_CHECK(*qa == *qb, *qa + "\n" + *qb);
    auto parsed = torvane::parser::parse(*qa);
    FUZZ_CHECK(parsed.ok(), *qa + "\n" + (parsed.ok() ? std::string() : parsed.error().message));
  }
  // An unknown type is an error and draws nothing.
  const auto before = a.rng();
  FUZZ_CHECK(!a.generate("bogus").ok(), json);
  FUZZ_CHECK(a.rng() == before, json);
  return 0;
}
