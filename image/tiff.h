// TIFF files through libtiff: reader and writer of the raster layer, and the
// options record a read fills and a write takes, in the layer's numbering.
#ifndef TESSALY_IMAGE_TIFF_H
#define TESSALY_IMAGE_TIFF_H

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"

namespace tsl {

// Compressions, each standing for one Compression tag value (in brackets).
enum TIFFCompressionCode : uint32_t {
  TIFF_COMPRESS_NONE = 0,          // 1
  TIFF_COMPRESS_CCITT_RLE = 1,     // 2
  TIFF_COMPRESS_CCITT_G3 = 2,      // 3
  TIFF_COMPRESS_CCITT_G4 = 3,      // 4
  TIFF_COMPRESS_LZW = 4,           // 5
  TIFF_COMPRESS_OJPEG = 5,         // 6
  TIFF_COMPRESS_JPEG = 6,          // 7
  TIFF_COMPRESS_NEXT = 7,          // 32766
  TIFF_COMPRESS_CCITT_RLEW = 8,    // 32771
  TIFF_COMPRESS_PACKBITS = 9,      // 32773
  TIFF_COMPRESS_THUNDERSCAN = 10,  // 32809
  TIFF_COMPRESS_PIXAR_FILM = 11,   // 32908
  TIFF_COMPRESS_PIXAR_LOG = 12,    // 32909
  TIFF_COMPRESS_DEFLATE = 13,      // 32946
  TIFF_COMPRESS_KODAK_DCS = 14,    // 32947
  TIFF_COMPRESS_JBIG = 15,         // 34661
};

// Photometric interpretations (tag values in brackets).
enum TIFFPhotometricCode : uint32_t {
  TIFF_PHOTO_MIN_IS_WHITE = 0,  // 0
  TIFF_PHOTO_MIN_IS_BLACK = 1,  // 1
  TIFF_PHOTO_RGB = 2,           // 2
  TIFF_PHOTO_PALETTE = 3,       // 3
  TIFF_PHOTO_MASK = 4,          // 4
  TIFF_PHOTO_SEPARATED = 5,     // 5
  TIFF_PHOTO_YCBCR = 6,         // 6
  TIFF_PHOTO_CIE_LAB = 7,       // 8
  TIFF_PHOTO_LOGL = 8,          // 32844
  TIFF_PHOTO_LOGLUV = 9,        // 32845
};

// Orientations: a property only, rows are never reordered for it.
enum TIFFOrientationCode : uint32_t {
  TIFF_ORIENT_TOP_LEFT = 0,     // 1: row 0 at the top
  TIFF_ORIENT_BOTTOM_LEFT = 1,  // 4: row 0 at the bottom
};

// Properties of a TIFF file, owned by the caller. A read writes the fields
// it reaches and leaves the others; a write uses compression and
// orientation only and derives the photometric interpretation itself.
struct TIFFOptions {
  uint32_t compression;  // TIFFCompressionCode
  uint32_t photometric;  // TIFFPhotometricCode
  uint32_t orientation;  // TIFFOrientationCode
  uint16_t predictor;    // 1 none, 2 horizontal differencing; read with LZW
};

// `options` may be null: then none is filled and the checks that belong to
// them (orientation, compressions refused) are not made.
RasterError ReadTIFF(const char *filename, RasterImage *image, TIFFOptions *options);
// The same reader over a file already in memory.
RasterError ReadTIFFMemory(const uint8_t *data, size_t size, RasterImage *image,
                           TIFFOptions *options);
// `options` may be null: no compression, top-left orientation. The file is
// created only once the whole encoding has succeeded.
RasterError WriteTIFF(const char *filename, RasterImage image, const TIFFOptions *options);
// Width of the values of a colour map of `n` entries per colour: 16 as soon
// as one of the first n values of red, green or blue is 256 or more, 8 for
// a map written with 8-bit values.
int checkcmap(unsigned n, const uint16_t *red, const uint16_t *green, const uint16_t *blue);
// Whether WriteTIFF can store samples of `bits_per_sample` bits (8 for
// 24- and 32-bit pictures) with `compression`, a TIFFCompressionCode.
bool TIFFCanWrite(uint32_t compression, unsigned bits_per_sample);

}  // namespace tsl

#endif
