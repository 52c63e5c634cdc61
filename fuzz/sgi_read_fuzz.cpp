// Feeds arbitrary bytes to the SGI image reader and converts what it accepts to
// direct colour.
#include <cstddef>
#include <cstdint>

#include "image/sgi.h"
#include "image/raster_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Run-length rows may share their data, so a few kilobytes can describe
  // a picture of hundreds of megabytes; keep each run quick.
  if (size >= 12) {
    const uint64_t pixels = static_cast<uint64_t>(data[6] << 8 | data[7]) * (data[8] << 8 | data[9]) *
                            (data[10] << 8 | data[11]);
    if (pixels > (1u << 22)) return 0;
  }
  tsl::RasterImage image;
  tsl::InitRasterImage(&image);
  image.bmp_layout = static_cast<int32_t>(size & 1);
  if (tsl::ReadRGBMemory(data, size, &image) == tsl::RASTER_OK) {
    tsl::RasterImage rgb;
    tsl::InitRasterImage(&rgb);
    tsl::ConvertPaletteToRGB(image, &rgb);
    tsl::FreeRasterImage(&rgb);
  }
  tsl::FreeRasterImage(&image);
  return 0;
}
