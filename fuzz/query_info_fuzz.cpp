// The parse_query walk (query_info) on arbitrary UTF-8 text, on a worker-sized
// stack: it agrees with the parser on validity, its lists are byte-wise sorted
// without repeats, and every name it reports is written in the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_common.hpp"
#include "parser/parse.hpp"
#include "summary/query_info.hpp"

namespace {

void check_names(const std::vector<std::string>& names, std::string_view text) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    FUZZ_CHECK(i == 0 || names[i - 1] < names[i], text);
    FUZZ_CHECK(text.find(names[i]) != std::string_view::npos, names[i]);
  }
}

void check(std::string_view text) {
  const auto info = torvane::summary::query_info(text);
  const auto parsed = torvane::parser::parse(text);
  FUZZ_CHECK(info.is_valid == parsed.ok(), text);
  if (!info.is_valid) {
    FUZZ_CHECK(info.errors == std::vector<std::string>{parsed.error().display()}, text);
    FUZZ_CHECK(info.labels_used.empty() && info.rel_types_used.empty(), text);
    FUZZ_CHECK(info.properties_used.empty(), text);
    return;
  }
  FUZZ_CHECK(info.errors.empty(), text);
  check_names(info.labels_used, text);
  check_names(info.rel_types_used, text);
  check_names(info.properties_used, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return torvane::fuzz::run_on_text(data, size, check);
}
