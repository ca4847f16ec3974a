#include "pool/pool.hpp"

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace torvane::pool {
namespace {

namespace fs = std::filesystem;

struct SizeCase {
  const char* num_threads;
  const char* rs_num_cpus;
  std::size_t expected;  // with 6 CPUs available
};

TEST(PoolSize, FollowsTheVariables) {
  const SizeCase cases[] = {
      {nullptr, nullptr, 6},
      {"3", nullptr, 3},
      {"+3", nullptr, 3},
      {"0", nullptr, 6},
      {"0", "4", 6},  // 0 means the CPUs, not "look further"
      {"3", "4", 3},
      {"x", "4", 4},
      {" 3", "4", 4},
      {"3 ", nullptr, 6},
      {"-1", nullptr, 6},
      {"", "2", 2},
      {"+", "2", 2},
      {"99999999999999999999999", "2", 2},  // too large is no number
      {nullptr, "0", 6},
      {nullptr, "7", 7},
      {nullptr, "x", 6},
      {"64", nullptr, 64},
      {"256", nullptr, 256},
      {"1000", nullptr, 256},
      {nullptr, "100000", 256},
  };
  EXPECT_EQ(pool_size(nullptr, nullptr, 4096), 256u);
  for (const auto& c : cases) {
    EXPECT_EQ(pool_size(c.num_threads, c.rs_num_cpus, 6), c.expected)
        << (c.num_threads ? c.num_threads : "(unset)") << " / "
        << (c.rs_num_cpus ? c.rs_num_cpus : "(unset)");
  }
}

// A directory tree standing in for /proc and /sys.
class FakeRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "torvane-pool-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const std::string& path, const std::string& text) {
    const fs::path p = root_ + path;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  void dir(const std::string& path) { fs::create_directories(root_ + path); }
  std::size_t quota() { return cgroup_cpu_quota(root_); }

  std::string root_;
};

TEST_F(FakeRoot, NothingReadableMeansUnlimited) { EXPECT_EQ(quota(), kUnlimited); }

TEST_F(FakeRoot, V2QuotaIsTheSmallestOnTheWayUp) {
  write("/proc/self/cgroup", "0::/app/worker\n");
  write("/sys/fs/cgroup/app/worker/cgroup.controllers", "cpu memory\n");
  write("/sys/fs/cgroup/app/worker/cpu.max", "max 100000\n");
  EXPECT_EQ(quota(), kUnlimited);
  write("/sys/fs/cgroup/app/cpu.max", "350000 100000\n");
  EXPECT_EQ(quota(), 3u);  // rounded down
  write("/sys/fs/cgroup/cpu.max", "200000 100000\n");
  EXPECT_EQ(quota(), 2u);
  write("/sys/fs/cgroup/app/worker/cpu.max", "50000 100000\n");
  EXPECT_EQ(quota(), 0u);  // half a CPU; the caller makes it at least 1
}

TEST_F(FakeRoot, V2WithoutControllersFileIsNotV2) {
  write("/proc/self/cgroup", "0::/app\n");
  write("/sys/fs/cgroup/app/cpu.max", "100000 100000\n");
  EXPECT_EQ(quota(), kUnlimited);
}

TEST_F(FakeRoot, V2MalformedLimitsAreIgnored) {
  write("/proc/self/cgroup", "0::/\n");
  write("/sys/fs/cgroup/cgroup.controllers", "cpu\n");
  for (const char* text : {"", "100000", "x 100000", "100000 0", "100000 y"}) {
    write("/sys/fs/cgroup/cpu.max", text);
    EXPECT_EQ(quota(), kUnlimited) << text;
  }
}

TEST_F(FakeRoot, V1CpuControllerOutweighsV2) {
  write("/proc/self/cgroup",
        "12:memory:/other\n"
        "4:cpu,cpuacct:/jobs/one\n"
        "0::/unified\n");
  write("/sys/fs/cgroup/unified/cgroup.controllers", "cpu\n");
  write("/sys/fs/cgroup/unified/cpu.max", "100000 100000\n");
  write("/sys/fs/cgroup/cpu,cpuacct/jobs/one/cpu.cfs_quota_us", "-1\n");
  write("/sys/fs/cgroup/cpu,cpuacct/jobs/one/cpu.cfs_period_us", "100000\n");
  EXPECT_EQ(quota(), kUnlimited);
  write("/sys/fs/cgroup/cpu,cpuacct/jobs/cpu.cfs_quota_us", "400000\n");
  write("/sys/fs/cgroup/cpu,cpuacct/jobs/cpu.cfs_period_us", "100000\n");
  EXPECT_EQ(quota(), 4u);
}

TEST_F(FakeRoot, V1FoundThroughTheMountTable) {
  // The hierarchy is mounted elsewhere, with the group's parent as its root.
  write("/proc/self/cgroup", "3:cpu:/outer/inner\n");
  write("/proc/self/mountinfo",
        "30 22 0:27 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n"
        "31 30 0:28 /outer /mnt/cg rw,relatime shared:9 - cgroup cgroup rw,cpu\n");
  write("/mnt/cg/inner/cpu.cfs_quota_us", "150000\n");
  write("/mnt/cg/inner/cpu.cfs_period_us", "50000\n");
  EXPECT_EQ(quota(), 3u);
}

TEST_F(FakeRoot, V1ControllersWithoutCpuAreSkipped) {
  write("/proc/self/cgroup", "4:memory:/a\n5:cpuacct:/a\n");
  write("/sys/fs/cgroup/cpu/a/cpu.cfs_quota_us", "100000\n");
  write("/sys/fs/cgroup/cpu/a/cpu.cfs_period_us", "100000\n");
  EXPECT_EQ(quota(), kUnlimited);
}

TEST(AvailableCpus, AtMostTheAffinityMask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(::sched_getaffinity(0, sizeof set, &set), 0);
  const std::size_t n = available_cpus();
  EXPECT_GE(n, 1u);
  EXPECT_LE(n, static_cast<std::size_t>(CPU_COUNT(&set)));
}

TEST(ForEachIndex, VisitsEveryIndexOnce) {
  for (std::size_t n : {0u, 1u, 7u, 10000u}) {
    std::vector<std::atomic<int>> seen(n);
    for_each_index(n, [&](std::size_t i) { seen[i].fetch_add(1, std::memory_order_relaxed); });
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(seen[i].load(), 1) << n << " " << i;
  }
}

TEST(ForEachIndex, AnExceptionReachesTheCaller) {
  EXPECT_THROW(for_each_index(1000,
                              [](std::size_t i) {
                                if (i == 517) throw std::runtime_error("boom");
                              }),
               std::runtime_error);
  // The pool still works afterwards.
  std::atomic<std::size_t> sum{0};
  for_each_index(100, [&](std::size_t i) { sum += i; });
  EXPECT_EQ(sum.load(), 4950u);
}

}  // namespace
}  // namespace torvane::pool
