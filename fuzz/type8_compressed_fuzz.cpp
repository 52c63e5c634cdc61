// Group 4 Type-8 reader on hostile bytes. The first four bytes carry the
// width (1 to 2048) and height (1 to 256), big-endian, the rest is the
// coded data.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessaly.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 4 || size > (1u << 20)) return 0;
  const int width = 1 + ((data[0] << 8 | data[1]) % 2048);
  const int height = 1 + ((data[2] << 8 | data[3]) % 256);
  // A copy of exactly the coded bytes, so any read past them is caught.
  std::vector<uint8_t> stream(data + 4, data + size);
  const unsigned char *image = CreateImageFromNISTType8CompressedBinaryField(
      stream.empty() ? nullptr : stream.data(), static_cast<int>(stream.size()), width, height);
  if (image) {
    // Every pixel is 0 or 255, and all of them are readable.
    size_t n = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < n; ++i)
      if (image[i] != 0 && image[i] != 255) __builtin_trap();
  }
  return 0;
}
