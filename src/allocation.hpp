#pragma once
// The bound of one allocation, for room computed from a count that comes from
// outside: computed so that it cannot wrap, which on 32 bits a plain size_t
// product does long before memory runs out.
#include <cstddef>
#include <cstdint>
#include <limits>

namespace torvane {

// Whether `count` items of `size` bytes (size > 0) fit one allocation: the
// largest is PTRDIFF_MAX bytes, 2 GiB less one byte on 32 bits.
constexpr bool fits_one_allocation(std::uint64_t count, std::uint64_t size) {
  return count <= static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) / size;
}

}  // namespace torvane
