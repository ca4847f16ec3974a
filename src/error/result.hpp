#pragma once
// A value or an error: the return type of every fallible core operation.
#include <utility>
#include <variant>

namespace torvane {

template <class E>
struct Err {
  E error;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(const T& value) : v_(std::in_place_index<0>, value) {}
  // The value made in place from `args`, never moved.
  template <class... Args>
  explicit Result(std::in_place_t, Args&&... args)
      : v_(std::in_place_index<0>, std::forward<Args>(args)...) {}
  template <class F>
  Result(Err<F> e) : v_(std::in_place_index<1>, std::move(e.error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  E& error() & { return std::get<1>(v_); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
};

}  // namespace torvane

// Evaluates a Result expression; on error returns the error from the caller.
#define TRY_ASSIGN(var, expr)                                  \
  auto var##_result_ = (expr);                                 \
  if (!var##_result_.ok())                                     \
    return ::torvane::Err{std::move(var##_result_).error()};   \
  auto var = std::move(var##_result_).value()
