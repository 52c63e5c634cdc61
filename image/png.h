// PNG files through libpng: reader and writer of the raster layer.
#ifndef TESSALY_IMAGE_PNG_H
#define TESSALY_IMAGE_PNG_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadPNG(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadPNGMemory(const uint8_t *data, size_t size, RasterImage *image);
RasterError WritePNG(const char *filename, RasterImage image);

// Widens the four 2-bit pixels of `source` (first in the top bits) into
// `count` (1 or 2) bytes of 4-bit pixels, first pixel in the high nibble.
void Expand2to4(uint8_t *destination, uint8_t source, size_t count);

}  // namespace tsl

#endif
