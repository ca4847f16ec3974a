#include "keyed_hash.hpp"

#include <sys/random.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace torvane {
namespace {

HashKeys draw_os_keys() {
  std::uint64_t buf[2];
  auto* p = reinterpret_cast<unsigned char*>(buf);
  std::size_t got = 0;
  while (got < sizeof buf) {
    ssize_t n = getrandom(p + got, sizeof buf - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // No getrandom: the random device.
      std::FILE* f = std::fopen("/dev/urandom", "rb");
      if (f == nullptr || std::fread(p + got, 1, sizeof buf - got, f) != sizeof buf - got) {
        if (f) std::fclose(f);
        throw std::runtime_error("could not read the operating system's entropy for hash keys");
      }
      std::fclose(f);
      got = sizeof buf;
    }
  }
  return {buf[0], buf[1]};
}

inline std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

// An unaligned little-endian load.
template <class U>
U load_le(const unsigned char* p) {
  U v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, sizeof v);
  } else {
    for (std::size_t b = 0; b < sizeof v; ++b) v |= static_cast<U>(U{p[b]} << (8 * b));
  }
  return v;
}

}  // namespace

HashKeys next_hash_keys() {
  thread_local HashKeys keys = draw_os_keys();
  HashKeys out = keys;
  keys.k0 += 1;
  return out;
}

std::uint64_t siphash13(HashKeys keys, std::string_view bytes) {
  std::uint64_t v0 = keys.k0 ^ 0x736f6d6570736575ULL;
  std::uint64_t v1 = keys.k1 ^ 0x646f72616e646f6dULL;
  std::uint64_t v2 = keys.k0 ^ 0x6c7967656e657261ULL;
  std::uint64_t v3 = keys.k1 ^ 0x7465646279746573ULL;
  // clang-format off
  auto round = [&] {
    v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
    v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
  };
  // clang-format on

  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  const unsigned char* end = p + (n & ~std::size_t{7});
  for (; p != end; p += 8) {
    const std::uint64_t m = load_le<std::uint64_t>(p);
    v3 ^= m;
    round();
    v0 ^= m;
  }
  // The last n % 8 bytes, from two loads that overlap (or-ing a byte twice
  // at its own place changes nothing) instead of a loop over the bytes.
  const std::size_t r = n & 7;
  std::uint64_t last = std::uint64_t{n & 0xff} << 56;
  if (r >= 4) {
    last |= load_le<std::uint32_t>(p) | std::uint64_t{load_le<std::uint32_t>(p + r - 4)}
                                            << (8 * (r - 4));
  } else if (r >= 2) {
    last |= load_le<std::uint16_t>(p) | std::uint64_t{load_le<std::uint16_t>(p + r - 2)}
                                            << (8 * (r - 2));
  } else if (r == 1) {
    last |= p[0];
  }
  v3 ^= last;
  round();
  v0 ^= last;
  v2 ^= 0xff;
  round();
  round();
  round();
  return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace torvane
