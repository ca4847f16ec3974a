#pragma once
// The debug form of a string, as reprs and error texts quote names: in double
// quotes, with \0 \t \r \n \\ \" escaped, controls and invisible characters
// as \u{hex}, and every other character as it is.
#include <string>
#include <string_view>

namespace torvane {

// Appends the debug form of `s`. False, with `out` cut short, when `s` is not
// well-formed UTF-8.
bool append_debug_str(std::string& out, std::string_view s);

}  // namespace torvane
