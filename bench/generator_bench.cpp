// Queries generated per second, one benchmark per query type.
// Usage: generator_bench [schema.json] [benchmark flags]; without a schema file
// a small movie schema is used.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "generator/generator.hpp"

namespace {

using torvane::HashSet;
using torvane::generator::CypherGenerator;
using torvane::generator::kQueryTypes;
using torvane::schema::RelationshipDef;
using torvane::schema::Schema;

Schema movie_schema() {
  Schema s;
  s.nodes["Person"] = HashSet{"name", "born", "age"};
  s.nodes["Movie"] = HashSet{"title", "released", "tagline", "votes"};
  s.nodes["Genre"] = HashSet{"name"};
  s.relationships["ACTED_IN"] = RelationshipDef{"Person", "Movie", HashSet{"roles"}};
  s.relationships["DIRECTED"] = RelationshipDef{"Person", "Movie", HashSet{}};
  s.relationships["IN_GENRE"] = RelationshipDef{"Movie", "Genre", HashSet{}};
  return s;
}

void generate_type(benchmark::State& state, const Schema* schema, std::string_view type) {
  CypherGenerator gen(*schema, 1);
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto query = gen.generate(type);
    bytes += query->size();
    benchmark::DoNotOptimize(query);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // A flag this benchmark library does not know is left in place; it is not a schema file.
  if (argc > 1 && argv[1][0] == '-' && benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  static Schema schema = movie_schema();
  if (argc > 1) {
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    auto read = Schema::deserialize(text.str());
    if (!in || !read.ok()) {
      std::cerr << "cannot read schema " << argv[1] << (read.ok() ? "" : ": " + read.error())
                << '\n';
      return 1;
    }
    schema = std::move(read).value();
  }
  for (std::string_view type : kQueryTypes)
    benchmark::RegisterBenchmark(std::string("generate/").append(type).c_str(), generate_type,
                                 &schema, type);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
