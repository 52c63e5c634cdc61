// WSQ_decode_stream on arbitrary bytes: any code or image, never a crash, an
// out-of-bounds access or a leak.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tessaly.h"
#include "wsq_frame_guard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > INT_MAX || DecodeTooLarge(data, size)) return 0;
  unsigned char *image = nullptr;
  int width = 0, height = 0, ppi = 0;
  char *comment = nullptr;
  int ret = WSQ_decode_stream(data, static_cast<int>(size), &image, &width, &height, &ppi,
                              &comment);
  if (ret == 1) {
    // Touch every pixel so the sanitizer checks the buffer's extent.
    volatile unsigned sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) sum = sum + image[i];
  }
  free(image);
  free(comment);
  return 0;
}
