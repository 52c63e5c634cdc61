// Truevision TGA files: reader and writer of the raster layer.
#ifndef TESSALY_IMAGE_TGA_H
#define TESSALY_IMAGE_TGA_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadTGA(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadTGAMemory(const uint8_t *data, size_t size, RasterImage *image);
RasterError WriteTGA(const char *filename, RasterImage image);

}  // namespace tsl

#endif
