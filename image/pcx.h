// ZSoft PCX files, read only.
#ifndef TESSALY_IMAGE_PCX_H
#define TESSALY_IMAGE_PCX_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadPCX(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadPCXMemory(const uint8_t *data, size_t size, RasterImage *image);

}  // namespace tsl

#endif
