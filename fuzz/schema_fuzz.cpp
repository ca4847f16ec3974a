// Schema JSON reader on arbitrary bytes: a text it accepts is written and read
// back to the same content, and a copy writes the very same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_common.hpp"
#include "schema/schema.hpp"

using torvane::schema::Schema;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto read = Schema::deserialize(text);
  if (!read) {
    const std::string& msg = read.error();
    FUZZ_CHECK(msg.find(" at line ") != std::string::npos, msg);
    return 0;
  }
  const Schema& schema = *read;
  std::string json;
  schema.serialize(json);

  const Schema copy = schema;
  std::string copy_json;
  copy.serialize(copy_json);
  FUZZ_CHECK(copy_json == json, json);

  auto again = Schema::deserialize(json);
  FUZZ_CHECK(again.ok(), json);
  FUZZ_CHECK(torvane::fuzz::canonical(*again) == torvane::fuzz::canonical(schema), json);
  std::string again_json;
  again->serialize(again_json);
  FUZZ_CHECK(again_json.size() == json.size(), again_json);
  return 0;
}
