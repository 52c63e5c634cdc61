// Rows of blue, green, red pixels (the raster layer's 24-bit records) to and
// from the three planes of a planar RGB buffer, and the planes' grey mean:
// the conversions of the file-level read and save paths.
#ifndef TESSALY_API_PLANAR_H
#define TESSALY_API_PLANAR_H

#include <cstddef>
#include <cstdint>

namespace tsl {

// count pixels of 3 bytes at bgr into count bytes of each plane.
void SplitBgrRow(const uint8_t *bgr, size_t count, uint8_t *r, uint8_t *g, uint8_t *b);
// The opposite: count bytes of each plane into count 3-byte pixels.
void JoinBgrRow(const uint8_t *r, const uint8_t *g, const uint8_t *b, size_t count,
                uint8_t *bgr);
// grey[i] = (r[i] + g[i] + b[i]) / 3, truncated, for i below count.
void MeanOfPlanes(const uint8_t *r, const uint8_t *g, const uint8_t *b, size_t count,
                  uint8_t *grey);

}  // namespace tsl

#endif
