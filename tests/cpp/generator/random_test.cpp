#include "generator/random.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace torvane::generator {
namespace {

// Hands out a fixed list of draws and counts them; running past the end fails.
struct Scripted {
  std::vector<std::uint32_t> draws;
  std::size_t used = 0;
  std::uint32_t next_u32() {
    if (used >= draws.size()) {
      ADD_FAILURE() << "more draws than scripted";
      return 0;
    }
    return draws[used++];
  }
};

std::array<std::uint32_t, 4> state_of(const Xoshiro128PlusPlus& r) {
  return {r.state(0), r.state(1), r.state(2), r.state(3)};
}

TEST(Xoshiro, ReferenceOutputFromSmallState) {
  Xoshiro128PlusPlus r(1, 2, 3, 4);
  const std::uint32_t expected[] = {641,        1573767,    3222811527, 3517856514, 836907274,
                                    4247214768, 3867114732, 1355841295, 495546011,  621204420};
  for (std::uint32_t e : expected) EXPECT_EQ(r.next_u32(), e);
}

TEST(Xoshiro, SeedingThroughSplitMix) {
  struct Case {
    std::uint64_t seed;
    std::array<std::uint32_t, 4> state, first_draws;
  };
  const Case cases[] = {
      {0,
       {0x7B1DCDAF, 0xE220A839, 0xA1B965F4, 0x6E789E6A},
       {0x4653DAA3, 0x73922B58, 0xB82B4ADD, 0xD9FABD3B}},
      // The SplitMix sum wraps around.
      {UINT64_MAX,
       {0x1B652C20, 0xE4D97177, 0xDBF682C9, 0xE99FF867},
       {0x9DF76FA2, 0x4C367255, 0x96EF9CD0, 0x2313AD4B}},
  };
  for (const Case& c : cases) {
    Xoshiro128PlusPlus r = Xoshiro128PlusPlus::seed_from_u64(c.seed);
    EXPECT_EQ(state_of(r), c.state) << c.seed;
    for (std::uint32_t d : c.first_draws) EXPECT_EQ(r.next_u32(), d) << c.seed;
  }
}

TEST(Xoshiro, SeedBytesAreLittleEndianWordsAndZeroMeansSeedZero) {
  std::array<std::uint8_t, 16> bytes{};
  EXPECT_EQ(Xoshiro128PlusPlus::from_seed_bytes(bytes), Xoshiro128PlusPlus::seed_from_u64(0));
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
  EXPECT_EQ(state_of(Xoshiro128PlusPlus::from_seed_bytes(bytes)),
            (std::array<std::uint32_t, 4>{0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D}));
}

TEST(Xoshiro, OsSeedsDiffer) {
  // Two 128-bit entropy draws colliding would mean the source is broken.
  EXPECT_NE(Xoshiro128PlusPlus::from_os_rng(), Xoshiro128PlusPlus::from_os_rng());
}

// A scripted entropy call: each step fails with an errno or hands out the
// next `bytes` bytes of the sequence 1, 2, 3, ... (or zeros).
struct FillStep {
  int err;
  std::size_t bytes;
  bool zeros = false;
};
std::vector<FillStep> fill_steps;
std::size_t fill_at;
std::uint8_t fill_next;

std::ptrdiff_t scripted_fill(void* buf, std::size_t len) {
  if (fill_at >= fill_steps.size()) {
    ADD_FAILURE() << "more entropy calls than scripted";
    errno = EIO;
    return -1;
  }
  const FillStep step = fill_steps[fill_at++];
  if (step.err != 0) {
    errno = step.err;
    return -1;
  }
  const std::size_t n = std::min(len, step.bytes);
  auto* p = static_cast<std::uint8_t*>(buf);
  for (std::size_t i = 0; i < n; ++i) p[i] = step.zeros ? 0 : ++fill_next;
  return static_cast<std::ptrdiff_t>(n);
}

TEST(Xoshiro, EntropyRetriesFallsBackAndReportsFailure) {
  const std::string dir = testing::TempDir();
  const std::string counting = dir + "/torvane_entropy_32",
                    short_file = dir + "/torvane_entropy_10";
  {
    std::ofstream out(counting, std::ios::binary);
    for (int i = 1; i <= 32; ++i) out.put(static_cast<char>(i));
    std::ofstream(short_file, std::ios::binary) << "0123456789";
  }
  const std::array<std::uint32_t, 4> first16 = {0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D};
  const std::array<std::uint32_t, 4> seed0 = {0x7B1DCDAF, 0xE220A839, 0xA1B965F4, 0x6E789E6A};
  struct Case {
    const char* what;
    std::vector<FillStep> steps;
    std::string device;
    std::array<std::uint32_t, 4> state;  // when error is 0
    int error;
  };
  const Case cases[] = {
      {"one call", {{0, 32}}, counting, first16, 0},
      {"interrupted and partial reads", {{EINTR, 0}, {0, 5}, {EINTR, 0}, {0, 100}}, "", first16, 0},
      {"all zero", {{0, 32, true}}, "", seed0, 0},
      {"no such call", {{ENOSYS, 0}}, counting, first16, 0},
      {"call forbidden", {{EPERM, 0}}, counting, first16, 0},
      {"no device either", {{ENOSYS, 0}}, dir + "/torvane_no_such_device", {}, ENOENT},
      {"device too short", {{ENOSYS, 0}}, short_file, {}, EIO},
      {"call fails", {{EIO, 0}}, counting, {}, EIO},
      {"call returns nothing", {{0, 0}}, counting, {}, EIO},
  };
  for (const Case& c : cases) {
    fill_steps = c.steps;
    fill_at = 0;
    fill_next = 0;
    const Xoshiro128PlusPlus::EntropySource source{scripted_fill, c.device.c_str()};
    if (c.error == 0) {
      EXPECT_EQ(state_of(Xoshiro128PlusPlus::from_entropy(source)), c.state) << c.what;
    } else {
      try {
        (void)Xoshiro128PlusPlus::from_entropy(source);
        ADD_FAILURE() << c.what << ": no failure";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "from_os_rng failed: " + std::string(std::strerror(c.error)) + " (os error " +
                      std::to_string(c.error) + ")")
            << c.what;
      }
    }
    EXPECT_EQ(fill_at, c.steps.size()) << c.what;
  }
}

TEST(Random, U64DrawIsLowThenHigh) {
  Scripted s{{0x11111111, 0x22222222}};
  EXPECT_EQ(next_u64(s), 0x2222222211111111u);
}

TEST(Random, WideMulMatchesSchoolbook) {
  struct Case {
    std::uint64_t a, b, hi, lo;
  };
  const Case cases[] = {
      {0, UINT64_MAX, 0, 0},
      {UINT64_MAX, 100, 99, 0xFFFFFFFFFFFFFF9Cu},
      {UINT64_MAX, UINT64_MAX, UINT64_MAX - 1, 1},
      {0x0000000100000000u, 0x0000000100000000u, 1, 0},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0xFFFFFFFE00000001u},
      {0x123456789ABCDEF0u, 0x0FEDCBA987654321u, 0x0121FA00AD77D742u, 0x2236D88FE5618CF0u},
  };
  for (const Case& c : cases) {
    const Wide64 m = wide_mul(c.a, c.b);
    EXPECT_EQ(m.hi, c.hi) << c.a << " * " << c.b;
    EXPECT_EQ(m.lo, c.lo) << c.a << " * " << c.b;
  }
#ifdef __SIZEOF_INT128__
  __extension__ using u128 = unsigned __int128;
  Xoshiro128PlusPlus r = Xoshiro128PlusPlus::seed_from_u64(9);
  for (int i = 0; i < 10000; ++i) {
    const std::uint64_t a = next_u64(r), b = next_u64(r);
    const u128 p = static_cast<u128>(a) * b;
    const Wide64 m = wide_mul(a, b);
    ASSERT_EQ(m.hi, static_cast<std::uint64_t>(p >> 64));
    ASSERT_EQ(m.lo, static_cast<std::uint64_t>(p));
  }
#endif
}

TEST(Random, RangeU32SecondDrawOnlyOnTheRejectionEdge) {
  struct Case {
    std::uint32_t low, high;
    std::vector<std::uint32_t> draws;  // exactly the draws the range takes
    std::uint32_t expected;
  };
  const Case cases[] = {
      // x * 3 mod 2^32 = 0xFFFFFFFE: a second draw; its high part 2 carries.
      {0, 3, {0xAAAAAAAA, 0xFFFFFFFF}, 2},
      {0, 3, {0xAAAAAAAA, 0xAAAAAAAA}, 1},
      {0, 3, {0xAAAAAAAA, 0xAAAAAAAB}, 2},
      // x * 3 mod 2^32 = 0xFFFFFFFF: a high part of 1 already carries.
      {0, 3, {0x55555555, 0x55555555}, 0},
      {0, 3, {0x55555555, 0x55555556}, 1},
      {0, 3, {0}, 0},
      // x * 3 mod 2^32 = 0xFFFFFFFD sits just inside the edge: one draw.
      {0, 3, {0xFFFFFFFF}, 2},
      // Powers of two: the top bits, always one draw.
      {0, 4, {0xFFFFFFFF}, 3},
      {0, 4, {0x40000000}, 1},
      {0, 2, {0x7FFFFFFF}, 0},
      {0, 2, {0x80000000}, 1},
      {0, 1, {0xFFFFFFFF}, 0},
      {10, 15, {0xFFFFFFFF}, 14},
  };
  for (const Case& c : cases) {
    Scripted s{c.draws};
    EXPECT_EQ(random_range(s, c.low, c.high), c.expected) << c.draws[0];
    EXPECT_EQ(s.used, c.draws.size()) << c.draws[0];
  }
}

TEST(Random, RangeI64InclusiveTakesTwoOrFourDraws) {
  // 184467440737095516 * 100 = 2^64 - 16: past the edge 2^64 - 100.
  const std::uint32_t edge_lo = 0xF5C28F5C, edge_hi = 0x028F5C28;
  struct Case {
    std::vector<std::uint32_t> draws;
    std::int64_t expected;
  };
  const Case cases[] = {
      {{0, 0}, 1},
      {{0xFFFFFFFF, 0xFFFFFFFF}, 100},  // lo is exactly 2^64 - 100: no second draw
      {{edge_lo, edge_hi, 0, 0}, 1},
      {{edge_lo, edge_hi, 0xFFFFFFFF, 0xFFFFFFFF}, 2},
      {{0x66666667, 0x26666666}, 16},  // x just above 0.15 * 2^64: two draws
  };
  for (const Case& c : cases) {
    Scripted s{c.draws};
    EXPECT_EQ(random_range_inclusive(s, 1, 100), c.expected) << c.draws.size();
    EXPECT_EQ(s.used, c.draws.size());
  }
  // Past 2^64 - 16 the second draw carries when its high part is 16 or more.
  const std::uint64_t y15 = 0x2666666666666667u;  // * 100 >> 64 == 15
  const std::uint64_t y16 = 0x28F5C28F5C28F5C3u;  // * 100 >> 64 == 16
  ASSERT_EQ(wide_mul(y15, 100).hi, 15u);
  ASSERT_EQ(wide_mul(y16, 100).hi, 16u);
  for (auto [y, expected] : {std::pair{y15, std::int64_t{1}}, std::pair{y16, std::int64_t{2}}}) {
    Scripted s{
        {edge_lo, edge_hi, static_cast<std::uint32_t>(y), static_cast<std::uint32_t>(y >> 32)}};
    EXPECT_EQ(random_range_inclusive(s, 1, 100), expected);
  }
}

TEST(Random, EmptyRangesAreInvariantBreaks) {
  Scripted s{{}};
  EXPECT_THROW((void)random_range(s, 3, 3), std::logic_error);
  EXPECT_THROW((void)random_range_inclusive(s, 2, 1), std::logic_error);
  EXPECT_THROW((void)sample(s, 2, 3), std::logic_error);
  EXPECT_EQ(s.used, 0u);
}

TEST(Random, ChooseDrawsOnlyForNonEmptyLists) {
  Scripted none{{}};
  EXPECT_EQ(choose(none, std::span<const int>()), nullptr);
  EXPECT_EQ(none.used, 0u);

  const int one[] = {7};
  Scripted s1{{0xFFFFFFFF}};
  EXPECT_EQ(*choose(s1, std::span<const int>(one)), 7);
  EXPECT_EQ(s1.used, 1u);

  const int four[] = {1, 2, 3, 4};
  Scripted s4{{0xC0000000}};
  EXPECT_EQ(*choose(s4, std::span<const int>(four)), 4);
}

TEST(Random, SampleByFloyd) {
  struct Case {
    std::uint32_t length, amount;
    std::vector<std::uint32_t> draws;
    std::vector<std::uint32_t> expected;
  };
  const Case cases[] = {
      {1, 1, {0x12345678}, {0}},
      // j = 1: t in [0, 2) = 1; j = 2: t in [0, 3) = 1 repeats, so the first becomes 2.
      {3, 2, {0x80000000, 0x55555556}, {2, 1}},
      {3, 2, {0x80000000, 0}, {1, 0}},
      // j = 2, 3, 4 over length 5: t = 0, 0 (repeat: first becomes 3), 4.
      {5, 3, {0, 0, 0xFFFFFFFF}, {3, 0, 4}},
  };
  for (const Case& c : cases) {
    Scripted s{c.draws};
    const SampledIndices got = sample(s, c.length, c.amount);
    EXPECT_EQ(std::vector<std::uint32_t>(got.view().begin(), got.view().end()), c.expected);
    EXPECT_EQ(s.used, c.draws.size());
  }
}

TEST(Random, SampleIndicesAreDistinctAndInRange) {
  Xoshiro128PlusPlus r = Xoshiro128PlusPlus::seed_from_u64(3);
  for (std::uint32_t length = 1; length <= 6; ++length) {
    for (std::uint32_t amount = 1; amount <= 3 && amount <= length; ++amount) {
      for (int round = 0; round < 200; ++round) {
        const SampledIndices got = sample(r, length, amount);
        ASSERT_EQ(got.count, amount);
        for (std::uint32_t i = 0; i < got.count; ++i) {
          ASSERT_LT(got.index[i], length);
          for (std::uint32_t j = 0; j < i; ++j) ASSERT_NE(got.index[i], got.index[j]);
        }
      }
    }
  }
}

}  // namespace
}  // namespace torvane::generator
