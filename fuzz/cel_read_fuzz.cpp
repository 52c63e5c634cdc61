// Feeds arbitrary bytes to the CEL, FLI and FLC reader.
#include "image/cel.h"
#include "raster_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return FuzzRasterReader(data, size, tsl::ReadCELMemory);
}
