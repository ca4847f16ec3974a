#include "pool/pool.hpp"

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace torvane::pool {

namespace {

// A non-negative decimal number with an optional leading '+', nothing else;
// none when empty, malformed or too large for size_t.
std::optional<std::size_t> parse_count(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::size_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::size_t>(c - '0');
    if (n > (SIZE_MAX - digit) / 10) return std::nullopt;
    n = n * 10 + digit;
  }
  return n;
}

std::optional<std::size_t> parse_env(const char* value) {
  if (value == nullptr) return std::nullopt;
  return parse_count(value);
}

std::optional<std::string> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return std::move(text).str();
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = s.find(sep);
    parts.push_back(s.substr(0, at));
    if (at == std::string_view::npos) return parts;
    s.remove_prefix(at + 1);
  }
}

// Drops the last component of `path`; false once nothing is left to drop.
bool to_parent(std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  path.resize(slash);
  return true;
}

// Joins a mount point and a cgroup path relative to it.
std::string join(std::string_view mount, std::string_view relative) {
  std::string path(mount);
  if (!relative.empty()) {
    path += '/';
    path += relative;
  }
  while (path.size() > mount.size() && path.back() == '/') path.pop_back();
  return path;
}

// Walks from `path` up to `mount`, both included, taking the smallest quota
// that `quota_at` finds on the way.
template <class F>
std::size_t smallest_quota(std::string path, std::string_view mount, F&& quota_at) {
  std::size_t quota = kUnlimited;
  while (path.size() >= mount.size()) {
    quota = std::min(quota, quota_at(path));
    if (!to_parent(path)) break;
  }
  return quota;
}

// cgroup v2: "cpu.max" holds "<limit> <period>", the limit "max" when unset.
std::size_t quota_v2(const std::string& root, std::string_view group) {
  const std::string mount = root + "/sys/fs/cgroup";
  const std::string base = join(mount, group);
  if (!exists(base + "/cgroup.controllers")) return kUnlimited;
  return smallest_quota(base, mount, [](const std::string& dir) {
    auto text = read_file(dir + "/cpu.max");
    if (!text) return kUnlimited;
    std::string_view line = *text;
    line = line.substr(0, line.find('\n'));
    const auto fields = split(line, ' ');
    if (fields.size() < 2) return kUnlimited;
    const auto limit = parse_count(fields[0]);
    const auto period = parse_count(fields[1]);
    if (!limit || !period || *period == 0) return kUnlimited;
    return *limit / *period;
  });
}

// The mount point of a cgroup v1 hierarchy with the cpu controller that holds
// `group`, and `group` relative to that mount's root.
std::optional<std::pair<std::string, std::string>> find_v1_mount(const std::string& root,
                                                                 std::string_view group) {
  auto text = read_file(root + "/proc/self/mountinfo");
  if (!text) return std::nullopt;
  for (std::string_view line : split(*text, '\n')) {
    // id parent dev root mount-point options [optional...] - fstype source super-options
    const auto dash = line.find(" - ");
    if (dash == std::string_view::npos) continue;
    const auto head = split(line.substr(0, dash), ' ');
    const auto tail = split(line.substr(dash + 3), ' ');
    if (head.size() < 5 || tail.size() < 3 || tail[0] != "cgroup") continue;
    const auto options = split(tail[2], ',');
    if (std::find(options.begin(), options.end(), "cpu") == options.end()) continue;
    std::string_view mount_root = head[3];
    mount_root.remove_prefix(
        std::min<std::size_t>(1, mount_root.size()));  // relative, like `group`
    if (!group.starts_with(mount_root)) continue;
    std::string_view rest = group.substr(mount_root.size());
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    return std::pair{root + std::string(head[4]), std::string(rest)};
  }
  return std::nullopt;
}

// cgroup v1: "cpu.cfs_quota_us" over "cpu.cfs_period_us" (a quota of -1
// means none), from the group's directory under `mount` up to the mount;
// none when the directory does not exist there.
std::optional<std::size_t> quota_v1_under(std::string_view mount, std::string_view relative) {
  const std::string base = join(mount, relative);
  if (!exists(base)) return std::nullopt;
  return smallest_quota(base, mount, [](const std::string& dir) {
    auto read = [&](const char* name) -> std::optional<std::size_t> {
      auto text = read_file(dir + "/" + name);
      if (!text) return std::nullopt;
      return parse_count(trim(*text));
    };
    const auto limit = read("cpu.cfs_quota_us");
    const auto period = read("cpu.cfs_period_us");
    if (!limit || !period || *period == 0) return kUnlimited;
    return *limit / *period;
  });
}

// The usual mount points first; the mount table only when neither holds the
// group (it can be long, and a bind mount shifts the group's path).
std::size_t quota_v1(const std::string& root, std::string_view group) {
  for (const char* mount : {"/sys/fs/cgroup/cpu", "/sys/fs/cgroup/cpu,cpuacct"}) {
    if (auto quota = quota_v1_under(root + mount, group)) return *quota;
  }
  if (auto found = find_v1_mount(root, group)) {
    if (auto quota = quota_v1_under(found->first, found->second)) return *quota;
  }
  return kUnlimited;
}

}  // namespace

std::size_t cgroup_cpu_quota(const std::string& root) {
  auto text = read_file(root + "/proc/self/cgroup");
  if (!text) return kUnlimited;
  // A v1 hierarchy that names the cpu controller outweighs the v2 entry.
  std::optional<std::string_view> group;
  bool v1 = false;
  for (std::string_view line : split(*text, '\n')) {
    const auto fields = split(line, ':');
    if (fields.size() < 3) continue;
    const std::string_view controllers = fields[1];
    // The path may itself hold colons: it is everything after the second one.
    std::string_view path = line.substr(fields[0].size() + controllers.size() + 2);
    bool is_v1 = false;
    if (controllers.empty()) {
      if (group) continue;
    } else {
      const auto names = split(controllers, ',');
      if (std::find(names.begin(), names.end(), "cpu") == names.end()) continue;
      is_v1 = true;
    }
    if (path.empty()) continue;
    path.remove_prefix(1);
    group = path;
    v1 = is_v1;
  }
  if (!group) return kUnlimited;
  return v1 ? quota_v1(root, *group) : quota_v2(root, *group);
}

std::size_t available_cpus() {
  const std::size_t quota = std::max<std::size_t>(cgroup_cpu_quota(""), 1);
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return std::min(static_cast<std::size_t>(count), quota);
  }
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (online > 0) return std::min(static_cast<std::size_t>(online), quota);
  return 1;
}

std::size_t pool_size(const char* num_threads, const char* rs_num_cpus, std::size_t available) {
  std::size_t size = available;
  if (auto n = parse_env(num_threads)) {
    if (*n > 0) size = *n;
  } else if (auto m = parse_env(rs_num_cpus); m && *m > 0) {
    size = *m;
  }
  return std::min(size, kMaxPoolSize);
}

oneapi::tbb::task_arena& arena() {
  // Never destroyed: workers may still be parked in it while the process exits.
  static oneapi::tbb::task_arena* const pool = [] {
    const std::size_t size = pool_size(std::getenv("RAYON_NUM_THREADS"),
                                       std::getenv("RAYON_RS_NUM_CPUS"), available_cpus());
    const int threads = static_cast<int>(size);
    // The scheduler allows only as many threads as it sees CPUs unless told
    // otherwise; an explicit larger size is honoured.
    if (threads > oneapi::tbb::info::default_concurrency()) {
      new oneapi::tbb::global_control(oneapi::tbb::global_control::max_allowed_parallelism,
                                      static_cast<std::size_t>(threads));
    }
    auto* a = new oneapi::tbb::task_arena(threads);
    a->initialize();
    return a;
  }();
  return *pool;
}

}  // namespace torvane::pool
