#pragma once
// Running a test body on a thread with a small stack, as a host thread may
// have: 1 MiB unless said otherwise. AddressSanitizer enlarges every frame
// several times over, so its builds get eight times the stack.
#include <pthread.h>

#include <cstddef>
#include <functional>

#include <gtest/gtest.h>

namespace quendal::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr std::size_t kStackScale = 8;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr std::size_t kStackScale = 8;
#else
inline constexpr std::size_t kStackScale = 1;
#endif
#else
inline constexpr std::size_t kStackScale = 1;
#endif

inline void* run_stack_body(void* arg) {
  (*static_cast<std::function<void()>*>(arg))();
  return nullptr;
}

inline void on_stack(std::size_t bytes, std::function<void()> body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes * kStackScale), 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, run_stack_body, &body), 0);
  pthread_attr_destroy(&attr);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

inline void on_small_stack(std::function<void()> body) { on_stack(std::size_t{1} << 20, std::move(body)); }

}  // namespace quendal::testing
