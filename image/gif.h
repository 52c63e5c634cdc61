// GIF files, read only: the first image on its logical screen, through giflib.
#ifndef TESSALY_IMAGE_GIF_H
#define TESSALY_IMAGE_GIF_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadGIF(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadGIFMemory(const uint8_t *data, size_t size, RasterImage *image);

}  // namespace tsl

#endif
