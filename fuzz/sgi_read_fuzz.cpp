// Feeds arbitrary bytes to the SGI image reader.
#include "image/sgi.h"
#include "raster_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Run-length rows may share their data, so a few kilobytes can describe
  // a picture of hundreds of megabytes; keep each run quick.
  if (size >= 12) {
    const uint64_t pixels = static_cast<uint64_t>(data[6] << 8 | data[7]) *
                            (data[8] << 8 | data[9]) * (data[10] << 8 | data[11]);
    if (pixels > (1u << 22)) return 0;
  }
  return FuzzRasterReader(data, size, tsl::ReadRGBMemory);
}
