// Feeds arbitrary bytes to the JPEG reader.
#include "image/jpeg.h"
#include "raster_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return FuzzRasterReader(data, size, tsl::ReadJPEGMemory);
}
