#pragma once
// The corpus queries with the schema of the database each one names, for the
// validator's corpus test and benchmark. A line whose database has no schema
// file (and a line without a database) gets the fallback schema.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "corpus.hpp"
#include "schema/schema.hpp"

namespace torvane::testing {

struct CorpusQuery {
  std::string query;
  const schema::Schema* schema;  // owned by the CorpusSchemas that read it
};

class CorpusSchemas {
 public:
  CorpusSchemas(std::filesystem::path dir, schema::Schema fallback)
      : dir_(std::move(dir)), fallback_(std::move(fallback)) {}

  // The schema named by `database`, read once; the fallback when there is none.
  const schema::Schema* find(const std::string& database) {
    if (database.empty()) return &fallback_;
    auto [it, inserted] = by_name_.try_emplace(database);
    if (inserted) {
      for (const char* source : {"neo4j-text2cypher", "mind-the-query"}) {
        std::ifstream in(dir_ / "schemas" / source / (database + ".json"), std::ios::binary);
        if (!in) continue;
        std::stringstream text;
        text << in.rdbuf();
        auto s = schema::Schema::deserialize(text.str());
        if (s.ok()) it->second = std::move(*s);
        break;
      }
    }
    return it->second ? &*it->second : &fallback_;
  }

  // Every query of one corpus file, in file order.
  std::vector<CorpusQuery> read(const std::filesystem::path& file) {
    std::vector<CorpusQuery> out;
    std::ifstream in(file);
    std::string line, query, database;
    constexpr std::string_view query_key = "\"query\":\"", database_key = "\"database\":\"";
    while (std::getline(in, line)) {
      const std::size_t q = line.find(query_key);
      if (q == std::string::npos || !decode_json_string(line, q + query_key.size(), query))
        continue;
      database.clear();
      if (const std::size_t d = line.find(database_key); d != std::string::npos)
        decode_json_string(line, d + database_key.size(), database);
      out.push_back({query, find(database)});
    }
    return out;
  }

  std::size_t schemas_read() const {
    std::size_t n = 0;
    for (const auto& [name, s] : by_name_) n += s.has_value();
    return n;
  }

 private:
  std::filesystem::path dir_;
  schema::Schema fallback_;
  std::map<std::string, std::optional<schema::Schema>> by_name_;
};

}  // namespace torvane::testing
