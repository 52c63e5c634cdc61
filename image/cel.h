// Autodesk Animator CEL pictures and FLI/FLC animations (their first
// frame), read only.
#ifndef TESSALY_IMAGE_CEL_H
#define TESSALY_IMAGE_CEL_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadCEL(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadCELMemory(const uint8_t *data, size_t size, RasterImage *image);

}  // namespace tsl

#endif
