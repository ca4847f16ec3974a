#pragma once
// The generator's random source: xoshiro128++ seeded through SplitMix64 or
// from the operating system, and the integer ranges, choice and index sampling
// built on its 32-bit draws. Generated queries are reproducible from a seed,
// so the number and order of draws of every operation here is fixed: a change
// shifts every later query of a generator.
//
// The range operations are templates over any source with `uint32_t
// next_u32()`, so tests can script the draws.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

namespace torvane::generator {

class Xoshiro128PlusPlus {
 public:
  // Never all zero.
  explicit Xoshiro128PlusPlus(std::uint32_t s0, std::uint32_t s1, std::uint32_t s2,
                              std::uint32_t s3);

  // SplitMix64, two outputs, each split into low then high word.
  static Xoshiro128PlusPlus seed_from_u64(std::uint64_t seed);
  // The first 16 bytes as four little-endian words; all zero gives the state of seed 0.
  static Xoshiro128PlusPlus from_seed_bytes(std::span<const std::uint8_t, 16> bytes);
  // 32 bytes of operating-system entropy, the first 16 used. Throws
  // std::runtime_error "from_os_rng failed: {}" when there is none.
  static Xoshiro128PlusPlus from_os_rng();

  // Where from_os_rng reads; tests put failing or scripted calls in.
  struct EntropySource {
    // As the getrandom call: bytes filled, or -1 with errno set.
    std::ptrdiff_t (*fill)(void* buf, std::size_t len);
    // Read instead when the call is missing (ENOSYS) or forbidden (EPERM).
    const char* device;
  };
  static Xoshiro128PlusPlus from_entropy(const EntropySource& source);

  // One draw.
  std::uint32_t next_u32() {
    const std::uint32_t result = rotl(s_[0] + s_[3], 7) + s_[0];
    const std::uint32_t t = s_[1] << 9;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 11);
    return result;
  }

  std::uint32_t state(std::size_t i) const { return s_[i]; }
  friend bool operator==(const Xoshiro128PlusPlus&, const Xoshiro128PlusPlus&) = default;

 private:
  static constexpr std::uint32_t rotl(std::uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }
  std::uint32_t s_[4];
};

// Two draws: the first is the low word.
template <class Rng>
std::uint64_t next_u64(Rng& rng) {
  const std::uint64_t lo = rng.next_u32();
  const std::uint64_t hi = rng.next_u32();
  return (hi << 32) | lo;
}

struct Wide64 {
  std::uint64_t hi, lo;
};

// The full 128-bit product from 32-bit halves; the target has no 128-bit type.
constexpr Wide64 wide_mul(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t a_lo = a & 0xFFFFFFFFu, a_hi = a >> 32;
  const std::uint64_t b_lo = b & 0xFFFFFFFFu, b_hi = b >> 32;
  const std::uint64_t ll = a_lo * b_lo;
  const std::uint64_t lh = a_lo * b_hi;
  const std::uint64_t hl = a_hi * b_lo;
  const std::uint64_t hh = a_hi * b_hi;
  // Cannot overflow: at most (2^32-1) + 2 (2^32-1) = 3 (2^32-1).
  const std::uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
  return {hh + (lh >> 32) + (hl >> 32) + (mid >> 32), (mid << 32) | (ll & 0xFFFFFFFFu)};
}

[[noreturn]] void empty_range();

// Uniform in [low, high): one draw, a second only when the low half of the
// product lands in the biased zone.
template <class Rng>
std::uint32_t random_range(Rng& rng, std::uint32_t low, std::uint32_t high) {
  if (low >= high) empty_range();
  const std::uint32_t n = high - low;
  const std::uint64_t m = std::uint64_t{rng.next_u32()} * n;
  std::uint32_t hi = static_cast<std::uint32_t>(m >> 32);
  const std::uint32_t lo = static_cast<std::uint32_t>(m);
  if (lo > 0u - n) {
    const std::uint32_t h2 = static_cast<std::uint32_t>((std::uint64_t{rng.next_u32()} * n) >> 32);
    if (static_cast<std::uint32_t>(lo + h2) < lo) ++hi;
  }
  return low + hi;
}

// Uniform in [low, high], inclusive: the same method on 64-bit draws.
template <class Rng>
std::int64_t random_range_inclusive(Rng& rng, std::int64_t low, std::int64_t high) {
  if (low > high) empty_range();
  const std::uint64_t n = static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low) + 1;
  // n == 0 is the whole 64-bit range: every draw is already uniform.
  if (n == 0) return static_cast<std::int64_t>(next_u64(rng));
  const Wide64 m = wide_mul(next_u64(rng), n);
  std::uint64_t hi = m.hi;
  if (m.lo > 0u - n) {
    const std::uint64_t h2 = wide_mul(next_u64(rng), n).hi;
    if (m.lo + h2 < m.lo) ++hi;
  }
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(low) + hi);
}

// One uniformly chosen element, or nullptr (and no draw) for an empty list.
template <class Rng, class T>
const T* choose(Rng& rng, std::span<const T> items) {
  if (items.empty()) return nullptr;
  return &items[random_range(rng, 0, static_cast<std::uint32_t>(items.size()))];
}

// Up to three distinct indices, in sampled order.
struct SampledIndices {
  std::uint32_t index[3];
  std::uint32_t count;
  std::span<const std::uint32_t> view() const { return {index, count}; }
};

// `amount` distinct indices below `length` by Floyd's method; 1 <= amount <= 3.
template <class Rng>
SampledIndices sample(Rng& rng, std::uint32_t length, std::uint32_t amount) {
  if (amount == 0 || amount > 3 || amount > length)
    throw std::logic_error("sample: amount must be 1 to 3 and at most the length");
  SampledIndices out{{}, 0};
  for (std::uint32_t j = length - amount; j < length; ++j) {
    const std::uint32_t t = random_range(rng, 0, j + 1);
    for (std::uint32_t i = 0; i < out.count; ++i) {
      if (out.index[i] == t) {
        out.index[i] = j;
        break;
      }
    }
    out.index[out.count++] = t;
  }
  return out;
}

}  // namespace torvane::generator
