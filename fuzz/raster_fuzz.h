// The body shared by the raster readers' fuzz targets: read the input from
// memory and convert what the reader accepts to direct colour.
#ifndef TESSALY_FUZZ_RASTER_FUZZ_H
#define TESSALY_FUZZ_RASTER_FUZZ_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

inline int FuzzRasterReader(const uint8_t *data, size_t size,
                            tsl::RasterError (*read)(const uint8_t *, size_t, tsl::RasterImage *)) {
  tsl::RasterImage image;
  tsl::InitRasterImage(&image);
  image.bmp_layout = static_cast<int32_t>(size & 1);  // both row layouts
  if (read(data, size, &image) == tsl::RASTER_OK) {
    tsl::RasterImage rgb;
    tsl::InitRasterImage(&rgb);
    tsl::ConvertPaletteToRGB(image, &rgb);
    tsl::FreeRasterImage(&rgb);
  }
  tsl::FreeRasterImage(&image);
  return 0;
}

#endif
