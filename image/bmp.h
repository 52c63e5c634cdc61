// Uncompressed Windows bitmap files: reader and writer of the raster layer.
#ifndef TESSALY_IMAGE_BMP_H
#define TESSALY_IMAGE_BMP_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadBMP(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadBMPMemory(const uint8_t *data, size_t size, RasterImage *image);
RasterError WriteBMP(const char *filename, RasterImage image);

}  // namespace tsl

#endif
