// Hostile JPEG 2000 streams: the first byte picks the container, the rest
// is the stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "api/jpeg2000.h"
#include "fuzz/decode_check.h"
#include "tessaly.h"

// Streams carrying every tile of an image above this many pixels are valid
// input (empty packets code a flat tile in a few bytes) but only make each
// run slow; those missing tiles go through, as the decoder refuses them
// before setting anything up.
constexpr uint64_t kMaxFuzzPixels = 1u << 22;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const bool jpc = data[0] & 1;
  // An exact-size copy so any read past the end is caught.
  std::vector<unsigned char> stream(data + 1, data + size);
  tsl::Jpeg2000Layout layout;
  if (tsl::ScanJpeg2000(stream.data(), stream.size(), !jpc, &layout) &&
      layout.tiles_present == layout.tiles &&
      static_cast<uint64_t>(layout.width) * layout.height > kMaxFuzzPixels)
    return 0;
  unsigned char *out = nullptr;
  int width = 0, height = 0;
  int rc = JPEG2000_decode_stream(stream.empty() ? nullptr : stream.data(),
                                  static_cast<int>(stream.size()), &out, &width, &height,
                                  jpc ? "jpc" : "jp2");
  CheckDecoded(rc, out, width, height);
  return 0;
}
