// Result check shared by the decoder fuzz targets: a success hands out a
// whole planar buffer (every byte is touched so a short one shows), a
// failure is -1 with nothing handed out. The buffer is released.
#ifndef TESSALY_FUZZ_DECODE_CHECK_H
#define TESSALY_FUZZ_DECODE_CHECK_H

#include <cstddef>
#include <cstdlib>

inline void CheckDecoded(int rc, unsigned char *out, int width, int height) {
  if (rc == 0) {
    if (!out || width < 0 || height < 0) std::abort();
    volatile unsigned sum = 0;
    for (size_t i = 0; i < 3 * static_cast<size_t>(width) * height; ++i) sum = sum + out[i];
  } else if (rc != -1 || out != nullptr) {
    std::abort();
  }
  std::free(out);
}

#endif
