// SGI image files (".rgb"): reader and writer of the raster layer.
#ifndef TESSALY_IMAGE_SGI_H
#define TESSALY_IMAGE_SGI_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadRGB(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadRGBMemory(const uint8_t *data, size_t size, RasterImage *image);
RasterError WriteRGB(const char *filename, RasterImage image);

}  // namespace tsl

#endif
