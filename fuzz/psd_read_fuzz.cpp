// Feeds arbitrary bytes to the PSD reader.
#include "image/psd.h"
#include "raster_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return FuzzRasterReader(data, size, tsl::ReadPSDMemory);
}
