// Whether this build runs under AddressSanitizer or ThreadSanitizer (gcc says so by a
// macro, clang by __has_feature). Under one the code runs several times slower and its
// shadow memory and quarantine grow with every allocation: suites that scale a race's
// rounds or bound a process's memory allow for it.
#pragma once

namespace qel_test
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool k_under_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool k_under_sanitizer = true;
#else
constexpr bool k_under_sanitizer = false;
#endif
#else
constexpr bool k_under_sanitizer = false;
#endif
} // namespace qel_test
