#include "keyed_hash.hpp"

#include <sys/random.h>

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
  auto round = [&] {
    v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
    v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
  };
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t m = 0;
    for (int b = 0; b < 8; ++b) m |= std::uint64_t{p[i + b]} << (8 * b);  // little-endian
    v3 ^= m;
    round();
    v0 ^= m;
  }
  std::uint64_t last = std::uint64_t{n & 0xff} << 56;
  for (int b = 0; i + b < n; ++b) last |= std::uint64_t{p[i + b]} << (8 * b);
  v3 ^= last;
  round();
  v0 ^= last;
  v2 ^= 0xff;
  round(); round(); round();
  return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace torvane
