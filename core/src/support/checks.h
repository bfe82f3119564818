#pragma once
// Consistency checks of the compiler's own work that release builds leave
// out: they are on in debug builds and under the sanitizers (the test and
// fuzzing builds), where a fault in the emitter must surface at once.
#if !defined(NDEBUG)
#define QUENDAL_CHECKED 1
#elif defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
#define QUENDAL_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define QUENDAL_CHECKED 1
#endif
#endif
#ifndef QUENDAL_CHECKED
#define QUENDAL_CHECKED 0
#endif

// Whether the build runs under AddressSanitizer.
#if defined(__SANITIZE_ADDRESS__)
#define QUENDAL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUENDAL_ASAN 1
#endif
#endif
#ifndef QUENDAL_ASAN
#define QUENDAL_ASAN 0
#endif
