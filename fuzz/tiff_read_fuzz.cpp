// Feeds arbitrary bytes to the TIFF reader, with and without options.
#include "image/tiff.h"
#include "raster_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  return FuzzRasterReader(data, size, [](const uint8_t *d, size_t n, tsl::RasterImage *image) {
    tsl::TIFFOptions options{0, 0, 0, 0};
    return tsl::ReadTIFFMemory(d, n, image, n & 2 ? &options : nullptr);
  });
}
