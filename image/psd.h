// Photoshop documents, read only: the merged picture.
#ifndef TESSALY_IMAGE_PSD_H
#define TESSALY_IMAGE_PSD_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

RasterError ReadPSD(const char *filename, RasterImage *image);
// The same reader over a file already in memory.
RasterError ReadPSDMemory(const uint8_t *data, size_t size, RasterImage *image);

}  // namespace tsl

#endif
