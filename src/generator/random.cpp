#include "generator/random.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace torvane::generator {
namespace {

std::uint64_t splitmix64(std::uint64_t& x) {
  x += 0x9E3779B97F4A7C15u;
  std::uint64_t z = x;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

std::uint32_t load_le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

[[noreturn, gnu::cold]] void entropy_failed(int err) {
  throw std::runtime_error("from_os_rng failed: " + std::string(std::strerror(err)) +
                           " (os error " + std::to_string(err) + ")");
}

// The random device, for kernels without the getrandom call.
void fill_from_device(const char* device, std::uint8_t* p, std::size_t len) {
  int fd;
  do {
    fd = ::open(device, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) entropy_failed(errno);
  while (len > 0) {
    const ssize_t n = ::read(fd, p, len);
    if (n > 0) {
      p += n;
      len -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      const int err = n < 0 ? errno : EIO;
      ::close(fd);
      entropy_failed(err);
    }
  }
  ::close(fd);
}

void fill_from(const Xoshiro128PlusPlus::EntropySource& source, std::uint8_t* p, std::size_t len) {
  while (len > 0) {
    const std::ptrdiff_t n = source.fill(p, len);
    if (n > 0) {
      p += n;
      len -= static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == ENOSYS || errno == EPERM)) {
      // No such call, or a sandbox forbids it.
      return fill_from_device(source.device, p, len);
    } else {
      entropy_failed(n < 0 ? errno : EIO);
    }
  }
}

std::ptrdiff_t os_getrandom(void* buf, std::size_t len) { return ::getrandom(buf, len, 0); }

}  // namespace

void empty_range() { throw std::logic_error("cannot sample empty range"); }

Xoshiro128PlusPlus::Xoshiro128PlusPlus(std::uint32_t s0, std::uint32_t s1, std::uint32_t s2,
                                       std::uint32_t s3)
    : s_{s0, s1, s2, s3} {
  if ((s0 | s1 | s2 | s3) == 0) throw std::logic_error("xoshiro128++ state is all zero");
}

Xoshiro128PlusPlus Xoshiro128PlusPlus::seed_from_u64(std::uint64_t seed) {
  const std::uint64_t z1 = splitmix64(seed);
  const std::uint64_t z2 = splitmix64(seed);
  return Xoshiro128PlusPlus(static_cast<std::uint32_t>(z1), static_cast<std::uint32_t>(z1 >> 32),
                            static_cast<std::uint32_t>(z2), static_cast<std::uint32_t>(z2 >> 32));
}

Xoshiro128PlusPlus Xoshiro128PlusPlus::from_seed_bytes(std::span<const std::uint8_t, 16> bytes) {
  const std::uint32_t s0 = load_le32(&bytes[0]), s1 = load_le32(&bytes[4]),
                      s2 = load_le32(&bytes[8]), s3 = load_le32(&bytes[12]);
  if ((s0 | s1 | s2 | s3) == 0) return seed_from_u64(0);
  return Xoshiro128PlusPlus(s0, s1, s2, s3);
}

Xoshiro128PlusPlus Xoshiro128PlusPlus::from_os_rng() {
  return from_entropy({os_getrandom, "/dev/urandom"});
}

Xoshiro128PlusPlus Xoshiro128PlusPlus::from_entropy(const EntropySource& source) {
  std::uint8_t seed[32];
  fill_from(source, seed, sizeof seed);
  return from_seed_bytes(std::span<const std::uint8_t, 16>(seed, 16));
}

}  // namespace torvane::generator
