// The keyed hash of every map: SipHash-1-3 reads its input in 8-byte words
// and a last partial word, so a slip in the loads shows at some length.
#include "keyed_hash.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

using torvane::HashKeys;

std::uint64_t rotl(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

// SipHash-1-3 read byte by byte: the plain form of the algorithm.
std::uint64_t byte_by_byte(HashKeys k, const std::string& s) {
  std::uint64_t v0 = k.k0 ^ 0x736f6d6570736575ULL, v1 = k.k1 ^ 0x646f72616e646f6dULL;
  std::uint64_t v2 = k.k0 ^ 0x6c7967656e657261ULL, v3 = k.k1 ^ 0x7465646279746573ULL;
  auto round = [&] {
    v0 += v1, v1 = rotl(v1, 13), v1 ^= v0, v0 = rotl(v0, 32);
    v2 += v3, v3 = rotl(v3, 16), v3 ^= v2;
    v0 += v3, v3 = rotl(v3, 21), v3 ^= v0;
    v2 += v1, v1 = rotl(v1, 17), v1 ^= v2, v2 = rotl(v2, 32);
  };
  auto word = [&](std::uint64_t m) { v3 ^= m, round(), v0 ^= m; };
  std::uint64_t m = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    m |= std::uint64_t{static_cast<unsigned char>(s[i])} << (8 * (i % 8));
    if (i % 8 == 7) word(std::exchange(m, 0));
  }
  word(m | std::uint64_t{s.size() & 0xff} << 56);
  v2 ^= 0xff;
  round(), round(), round();
  return v0 ^ v1 ^ v2 ^ v3;
}

TEST(KeyedHash, EveryLengthHashesLikeTheBytewiseForm) {
  std::mt19937_64 rng(7);
  for (std::size_t n = 0; n <= 300; ++n) {
    for (int trial = 0; trial < 4; ++trial) {
      const HashKeys keys{rng(), rng()};
      std::string s(n, '\0');
      for (char& c : s) c = static_cast<char>(rng());
      // Hash a view into a larger buffer, so that a load past either end
      // would read the bytes around it.
      const std::string padded = "\xff\xfe\xfd" + s + "\xfc\xfb\xfa";
      EXPECT_EQ(torvane::siphash13(keys, std::string_view(padded).substr(3, n)),
                byte_by_byte(keys, s))
          << "length " << n;
    }
  }
}

}  // namespace
