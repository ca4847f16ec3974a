#pragma once
// Runs a function on a thread with a stack of the given size, as a pool's
// worker would, so that a test shows what fits in that much stack.
#include <pthread.h>

#include <functional>
#include <stdexcept>

namespace torvane::testing {

// `plain` bytes of stack, or `sanitized` under AddressSanitizer, whose frames
// are several times larger.
constexpr std::size_t stack_size([[maybe_unused]] std::size_t plain,
                                 [[maybe_unused]] std::size_t sanitized) {
#if defined(__SANITIZE_ADDRESS__)
  return sanitized;
#else
  return plain;
#endif
}

inline void run_on_stack(std::size_t bytes, const std::function<void()>& body) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0 || pthread_attr_setstacksize(&attr, bytes) != 0)
    throw std::runtime_error("cannot set thread stack size");
  auto run = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  pthread_t thread;
  const int created = pthread_create(&thread, &attr, +run, const_cast<std::function<void()>*>(&body));
  pthread_attr_destroy(&attr);
  if (created != 0) throw std::runtime_error("cannot start thread");
  pthread_join(thread, nullptr);
}

}  // namespace torvane::testing
