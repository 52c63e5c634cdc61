// IFF ILBM pictures, read only.
#ifndef TESSALY_IMAGE_IFF_H
#define TESSALY_IMAGE_IFF_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadIFF(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadIFFMemory(const uint8_t *data, size_t size, RasterImage *image);

}  // namespace tsl

#endif
