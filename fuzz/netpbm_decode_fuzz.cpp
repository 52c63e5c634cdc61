// Hostile PBM/PGM/PPM streams: the first byte picks the decoder, the rest
// is the stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/decode_check.h"
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
  CheckDecoded(rc, out, width, height);
  return 0;
}
