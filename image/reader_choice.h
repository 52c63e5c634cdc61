// The raster layer's choice of a reader or writer by file extension, and its
// helpers for unpacked arrays (4-byte pixels without palette or row
// padding). Used by the library interface's file read path; internal.
#ifndef TESSALY_IMAGE_READER_CHOICE_H
#define TESSALY_IMAGE_READER_CHOICE_H

#include <cstdint>

#include "image/raster_image.h"
#include "image/tiff.h"

namespace tsl {

// The extension key of a file name: the first three characters after its
// last '.' (directories included), fewer when the name ends earlier,
// upper-cased in ASCII whatever the locale, NUL-terminated. False (key
// empty) when the name holds no '.'.
bool ExtensionKey(const char *filename, char key[4]);

// Reads the file with the reader its key names into `image`, which the
// caller initialised (bmp_layout chosen); `options` goes to the TIFF reader
// and may be null. A name without '.' gives RASTER_ERR_UNSUPPORTED_OPTION
// with the last error left 0; a key no reader takes (JP2 and JPC among
// them: the interface reads those itself) RASTER_ERR_UNSUPPORTED_EXTENSION.
RasterError GetDataFromFile(const char *filename, RasterImage *image, TIFFOptions *options);

// Reads any supported file into a new malloc'ed array of 4-byte pixels
// (see CreateRGBAArray) that the caller frees.
RasterError GetUnpackedArray(const char *filename, uint32_t *width, uint32_t *height,
                             unsigned char **data, int order);

// The record as width x height 4-byte pixels, rows 4 x width bytes apart in
// the record's order (bottom row first): red, green, blue, alpha with
// `order` 0, blue, green, red, alpha with any other value. *data holds null
// or a buffer the caller gives up: it is released on success and failure
// alike, and *data is the new array or null.
RasterError CreateRGBAArray(RasterImage image, uint32_t *width, uint32_t *height,
                            unsigned char **data, int order);

// Stores width x height pixels of 3 or 4 bytes (rows bytes_per_pixel x
// width apart, bottom row first; blue, green, red with `order` 1, red,
// green, blue with any other value) with the writer the name's key names.
// Other pixel sizes are refused with RASTER_ERR_INVALID_BPP.
RasterError SaveUnpackedArray(const char *filename, uint8_t bytes_per_pixel, int width,
                              int height, const unsigned char *data, int order);

// The BMP information header InternalCreateBMI builds.
BitmapInfoHeader CreateBMI(uint32_t width, uint32_t height, uint16_t bit_count,
                           uint32_t compression);

}  // namespace tsl

#endif
