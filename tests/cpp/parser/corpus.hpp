#pragma once
// Reads the "query" field of every line of the corpus files (*.jsonl).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace torvane::testing {

// The corpus folder: $TORVANE_CORPUS, else ../shared/corpus from the repo root.
inline std::filesystem::path corpus_dir() {
  if (const char* env = std::getenv("TORVANE_CORPUS"); env && *env) return env;
#ifdef TORVANE_SOURCE_ROOT
  return std::filesystem::path(TORVANE_SOURCE_ROOT) / ".." / "shared" / "corpus";
#else
  return "../shared/corpus";
#endif
}

inline std::vector<std::filesystem::path> corpus_files(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().extension() == ".jsonl") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

inline void put_utf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the JSON string that starts at s[i] (just after its opening quote).
inline bool decode_json_string(std::string_view s, std::size_t i, std::string& out) {
  auto hex4 = [&](std::size_t at, std::uint32_t& v) {
    if (at + 4 > s.size()) return false;
    v = 0;
    for (std::size_t j = at; j < at + 4; ++j) {
      const char c = s[j];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<std::uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<std::uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<std::uint32_t>(c - 'A' + 10);
      else return false;
    }
    return true;
  };
  out.clear();
  while (i < s.size()) {
    const char c = s[i++];
    if (c == '"') return true;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i >= s.size()) return false;
    const char e = s[i++];
    switch (e) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'u': {
        std::uint32_t cp;
        if (!hex4(i, cp)) return false;
        i += 4;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 6 <= s.size() && s[i] == '\\' && s[i + 1] == 'u') {
          std::uint32_t lo;
          if (hex4(i + 2, lo) && lo >= 0xDC00 && lo < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            i += 6;
          }
        }
        put_utf8(out, cp);
        break;
      }
      default: out += e; break;  // \" \\ \/
    }
  }
  return false;
}

// The queries of one corpus file, in file order.
inline std::vector<std::string> read_queries(const std::filesystem::path& file) {
  std::vector<std::string> queries;
  std::ifstream in(file);
  std::string line, q;
  constexpr std::string_view key = "\"query\":\"";
  while (std::getline(in, line)) {
    const std::size_t at = line.find(key);
    if (at == std::string::npos) continue;
    if (decode_json_string(line, at + key.size(), q)) queries.push_back(q);
  }
  return queries;
}

}  // namespace torvane::testing
