#pragma once
// Helpers shared by the fuzz targets.
#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "schema/schema.hpp"

namespace torvane::fuzz {

// Python hands the core only well-formed UTF-8, so the targets skip anything else.
inline bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

// Stops the run with a readable reason; libFuzzer saves the input.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "invariant broken: %s\n%.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

#define FUZZ_CHECK(cond, detail) \
  do {                           \
    if (!(cond)) ::torvane::fuzz::fail(#cond, detail); \
  } while (0)

// Worker threads of the batch pool get far less stack than the fuzzer's main
// thread, so the targets run their input on a thread of a worker's size (the
// sanitizers' frames are several times larger than plain ones).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TORVANE_FUZZ_ASAN
#endif
#endif
#ifdef TORVANE_FUZZ_ASAN
inline constexpr std::size_t kWorkerStack = 2 * 1024 * 1024;
#else
inline constexpr std::size_t kWorkerStack = 512 * 1024;
#endif

// One long-lived thread of that stack size runs each input in turn: a thread
// per input would spend most of the run starting threads.
class SmallStackWorker {
 public:
  SmallStackWorker() {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0 || pthread_attr_setstacksize(&attr, kWorkerStack) != 0)
      fail("cannot set the thread stack size");
    const int created = pthread_create(&thread_, &attr, &SmallStackWorker::loop, this);
    pthread_attr_destroy(&attr);
    if (created != 0) fail("cannot start a thread");
  }

  void run(const std::function<void()>& job) {
    std::unique_lock lock(mutex_);
    job_ = &job;
    wake_.notify_all();
    wake_.wait(lock, [&] { return job_ == nullptr; });
  }

 private:
  static void* loop(void* self) {
    auto& w = *static_cast<SmallStackWorker*>(self);
    std::unique_lock lock(w.mutex_);
    for (;;) {
      w.wake_.wait(lock, [&] { return w.job_ != nullptr; });
      (*w.job_)();
      w.job_ = nullptr;
      w.wake_.notify_all();
    }
  }

  pthread_t thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  const std::function<void()>* job_ = nullptr;
};

inline void on_worker_stack(const std::function<void()>& job) {
  static SmallStackWorker* worker = new SmallStackWorker;  // lives as long as the process
  worker->run(job);
}

// The body of a text target: well-formed UTF-8 only, checked on a worker's
// stack, since batch validation runs on pool workers, whose stacks are small.
inline int run_on_text(const std::uint8_t* data, std::size_t size,
                       void (*check)(std::string_view)) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (valid_utf8(text)) on_worker_stack([&] { check(text); });
  return 0;
}

// The content of a schema, independent of hash order: sorted labels with their
// sorted properties, then sorted types with endpoints and sorted properties.
inline std::string canonical(const schema::Schema& s) {
  std::string out;
  for (std::string_view label : s.node_labels()) {
    out.append("N ").append(label).append(1, '\0');
    for (std::string_view p : s.node_properties(label)) out.append(p).append(1, '\0');
    out.append(1, '\n');
  }
  for (std::string_view type : s.rel_types()) {
    const auto ends = s.rel_src_tgt(type);
    out.append("R ").append(type).append(1, '\0');
    out.append(ends->first).append(1, '\0').append(ends->second).append(1, '\0');
    for (std::string_view p : s.rel_properties(type)) out.append(p).append(1, '\0');
    out.append(1, '\n');
  }
  return out;
}

}  // namespace torvane::fuzz
