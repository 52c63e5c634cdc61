// Feeds arbitrary bytes to the TGA reader and converts what it accepts to
// direct colour.
#include <cstddef>
#include <cstdint>

#include "image/tga.h"
#include "image/raster_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tsl::RasterImage image;
  tsl::InitRasterImage(&image);
  image.bmp_layout = static_cast<int32_t>(size & 1);
  if (tsl::ReadTGAMemory(data, size, &image) == tsl::RASTER_OK) {
    tsl::RasterImage rgb;
    tsl::InitRasterImage(&rgb);
    tsl::ConvertPaletteToRGB(image, &rgb);
    tsl::FreeRasterImage(&rgb);
  }
  tsl::FreeRasterImage(&image);
  return 0;
}
