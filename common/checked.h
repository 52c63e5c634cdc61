// Size arithmetic and allocation for picture-dependent sizes, shared by every
// subsystem: a hostile header must not be able to overflow a product or ask
// for an absurd amount of memory.
#ifndef TESSALY_COMMON_CHECKED_H
#define TESSALY_COMMON_CHECKED_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace tsl {

// Largest single buffer the library allocates for image data: lengths cross
// the public interface as int, so nothing larger could be handed back.
constexpr size_t kMaxAlloc = static_cast<size_t>(INT_MAX);

// a * b into *out; false when the product does not fit in size_t.
inline bool CheckedMul(size_t a, size_t b, size_t *out) {
  if (a != 0 && b > SIZE_MAX / a) return false;
  *out = a * b;
  return true;
}

// a * b * c into *out; false on overflow.
inline bool CheckedMul(size_t a, size_t b, size_t c, size_t *out) {
  size_t ab;
  return CheckedMul(a, b, &ab) && CheckedMul(ab, c, out);
}

inline bool CheckedAdd(size_t a, size_t b, size_t *out) {
  if (b > SIZE_MAX - a) return false;
  *out = a + b;
  return true;
}

// Width x height (x channels) for sizes given as int: false when either is
// not positive or the product exceeds kMaxAlloc.
inline bool ImageBytes(int width, int height, size_t channels, size_t *out) {
  if (width <= 0 || height <= 0 || channels == 0) return false;
  size_t n;
  if (!CheckedMul(static_cast<size_t>(width), static_cast<size_t>(height), channels, &n))
    return false;
  if (n > kMaxAlloc) return false;
  *out = n;
  return true;
}

// calloc-shaped malloc: null when count x size overflows, is 0, or exceeds
// kMaxAlloc. The memory is uninitialised; release with free().
inline void *SafeMalloc(size_t count, size_t size) {
  size_t n;
  if (!CheckedMul(count, size, &n) || n == 0 || n > kMaxAlloc) return nullptr;
  return std::malloc(n);
}

// As SafeMalloc, zero-filled.
inline void *SafeCalloc(size_t count, size_t size) {
  size_t n;
  if (!CheckedMul(count, size, &n) || n == 0 || n > kMaxAlloc) return nullptr;
  return std::calloc(count, size);
}

// Runs `work`, the body of a routine that keeps standard containers, and
// gives `short_code` (after `message`, when there is one, on the standard
// error stream) when they cannot get memory. Every such routine on the way
// from an exported function goes through here, so short memory ends the
// call with the routine's own code, as a failed malloc does, and no
// exception reaches a C caller or unwinds through a C library's frames.
template <typename Code, typename Work>
Code CatchShortMemory(Code short_code, const char *message, Work &&work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc &) {
    if (message) std::fputs(message, stderr);
    return short_code;
  }
}

// Deleter for std::unique_ptr holding malloc'ed memory.
struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};

}  // namespace tsl

#endif
