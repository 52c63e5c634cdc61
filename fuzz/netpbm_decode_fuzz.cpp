// Hostile PBM/PGM/PPM streams: the first byte picks the decoder, the rest
// is the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tessaly.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  using Decoder = int (*)(const unsigned char *, int, unsigned char **, int *, int *);
  const Decoder decoders[3] = {PBM_decode_stream, PGM_decode_stream, PPM_decode_stream};
  Decoder decode = decoders[data[0] % 3];
  std::vector<unsigned char> stream(data + 1, data + size);
  unsigned char *out = nullptr;
  int width = -1, height = -1;
  int rc = decode(stream.empty() ? nullptr : stream.data(), static_cast<int>(stream.size()), &out,
                  &width, &height);
  if (rc == 0) {
    if (!out || width < 0 || height < 0) std::abort();
    volatile unsigned sum = 0;
    for (size_t i = 0; i < 3 * static_cast<size_t>(width) * height; ++i) sum = sum + out[i];
  } else if (rc != -1 || out != nullptr) {
    std::abort();
  }
  std::free(out);
  return 0;
}
