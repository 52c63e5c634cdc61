// JPEG files through libjpeg: reader and writer of the raster layer.
#ifndef TESSALY_IMAGE_JPEG_H
#define TESSALY_IMAGE_JPEG_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadJPEG(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadJPEGMemory(const uint8_t *data, size_t size, RasterImage *image);
// A baseline JPEG at `quality`, which libjpeg takes as it comes (it clamps
// to 1..100).
RasterError WriteJPEG(const char *filename, RasterImage image, int quality);

}  // namespace tsl

#endif
