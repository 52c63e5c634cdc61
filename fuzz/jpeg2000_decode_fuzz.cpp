// Hostile JPEG 2000 streams: the first byte picks the container, the rest
// is the stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/decode_check.h"
#include "tessaly.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const char *format = (data[0] & 1) ? "jpc" : "jp2";
  // An exact-size copy so any read past the end is caught.
  std::vector<unsigned char> stream(data + 1, data + size);
  unsigned char *out = nullptr;
  int width = 0, height = 0;
  int rc = JPEG2000_decode_stream(stream.empty() ? nullptr : stream.data(),
                                  static_cast<int>(stream.size()), &out, &width, &height, format);
  CheckDecoded(rc, out, width, height);
  return 0;
}
