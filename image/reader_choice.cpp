// Reader and writer choice by extension, and unpacked arrays.
#include "image/reader_choice.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/checked.h"
#include "image/bmp.h"
#include "image/cel.h"
#include "image/gif.h"
#include "image/iff.h"
#include "image/jpeg.h"
#include "image/pcx.h"
#include "image/png.h"
#include "image/psd.h"
#include "image/raster_io.h"
#include "image/sgi.h"
#include "image/tga.h"

namespace tsl {

namespace {

using Reader = RasterError (*)(const char *, RasterImage *);
using Writer = RasterError (*)(const char *, const RasterImage &);

// Tried in order. JP2 and JPC are recognised but have no reader here: the
// interface decodes them from memory itself.
struct ReaderEntry {
  const char *key;
  Reader read;  // null: recognised, not read here
};
const ReaderEntry kReaders[] = {
    {"JP2", nullptr},  {"JPC", nullptr}, {"PNG", ReadPNG}, {"JPG", ReadJPEG},
    {"BMP", ReadBMP},  {"TGA", ReadTGA},  {"CEL", ReadCEL}, {"RGB", ReadRGB},
    {"GIF", ReadGIF},  {"PSD", ReadPSD},  {"IFF", ReadIFF}, {"PCX", ReadPCX},
};

struct WriterEntry {
  const char *key;
  Writer write;
};
const WriterEntry kWriters[] = {
    {"TIF", [](const char *f, const RasterImage &i) { return WriteTIFF(f, i, nullptr); }},
    {"PNG", [](const char *f, const RasterImage &i) { return WritePNG(f, i); }},
    {"JPG", [](const char *f, const RasterImage &i) { return WriteJPEG(f, i, 100); }},
    {"BMP", [](const char *f, const RasterImage &i) { return WriteBMP(f, i); }},
    {"RGB", [](const char *f, const RasterImage &i) { return WriteRGB(f, i); }},
    {"TGA", [](const char *f, const RasterImage &i) { return WriteTGA(f, i); }},
};

RasterError Stored(RasterError code) {
  SetLastRasterError(code);
  return code;
}

// CreateRGBAArray's failure exit: what *data held is released.
RasterError NoArray(unsigned char **data, RasterError code) {
  if (data) {
    std::free(*data);
    *data = nullptr;
  }
  return Stored(code);
}

// One 4-byte pixel from blue, green, red and alpha.
inline void PutPixel(uint8_t *dst, const uint8_t *bgr, uint8_t alpha, bool rgba) {
  dst[0] = rgba ? bgr[2] : bgr[0];
  dst[1] = bgr[1];
  dst[2] = rgba ? bgr[0] : bgr[2];
  dst[3] = alpha;
}

}  // namespace

bool ExtensionKey(const char *filename, char key[4]) {
  key[0] = '\0';
  const char *dot = filename ? std::strrchr(filename, '.') : nullptr;
  if (!dot) return false;
  size_t n = 0;
  for (const char *c = dot + 1; n < 3 && *c; ++c, ++n)
    key[n] = *c >= 'a' && *c <= 'z' ? static_cast<char>(*c - 'a' + 'A') : *c;
  key[n] = '\0';
  return true;
}

RasterError GetDataFromFile(const char *filename, RasterImage *image, TIFFOptions *options) {
  SetLastRasterError(RASTER_OK);
  char key[4];
  if (!ExtensionKey(filename, key)) return RASTER_ERR_UNSUPPORTED_OPTION;
  if (std::strcmp(key, "TIF") == 0) return ReadTIFF(filename, image, options);
  for (const ReaderEntry &entry : kReaders) {
    if (std::strcmp(key, entry.key) != 0) continue;
    if (entry.read) return entry.read(filename, image);
    break;
  }
  return Stored(RASTER_ERR_UNSUPPORTED_EXTENSION);
}

RasterError GetUnpackedArray(const char *filename, uint32_t *width, uint32_t *height,
                             unsigned char **data, int order) {
  SetLastRasterError(RASTER_OK);
  OwnedRecord record;  // bmp_layout 0: 3-byte palette entries, unpadded rows
  RasterError code = GetDataFromFile(filename, &record.image, nullptr);
  if (code == RASTER_OK) code = CreateRGBAArray(record.image, width, height, data, order);
  return code;
}

RasterError CreateRGBAArray(RasterImage image, uint32_t *width, uint32_t *height,
                            unsigned char **data, int order) {
  if (!width || !height || !data || !image.bits) return NoArray(data, RASTER_ERR_INVALID_IMAGE);
  const unsigned bpp = image.bits_per_pixel;
  const bool indexed = image.palette != nullptr;
  if (indexed ? bpp != 1 && bpp != 4 && bpp != 8
              : bpp != 15 && bpp != 16 && bpp != 24 && bpp != 32)
    return NoArray(data, RASTER_ERR_INVALID_BPP);
  uint32_t pixel_bytes;
  size_t total;
  if (!RasterRowBytes(image.width, bpp == 15 ? 16 : bpp, false, &pixel_bytes) ||
      !RasterBlockBytes(uint64_t{image.width} * 4, image.height, &total))
    return NoArray(data, RASTER_ERR_INVALID_SIZE);
  if (image.scan_width < pixel_bytes) return NoArray(data, RASTER_ERR_INVALID_IMAGE);

  std::unique_ptr<uint8_t, FreeDeleter> out(static_cast<uint8_t *>(std::calloc(total, 1)));
  // One row of palette indices at a time.
  std::unique_ptr<uint8_t, FreeDeleter> index(
      indexed ? static_cast<uint8_t *>(std::malloc(image.width)) : nullptr);
  if (!out || (indexed && !index)) return NoArray(data, RASTER_ERR_MEMORY);

  const bool rgba = order == 0;
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint8_t *src = RasterRow(image, y);
    uint8_t *dst = out.get() + size_t{4} * image.width * y;
    if (indexed) UnpackIndexRow(image, y, index.get());
    for (uint32_t x = 0; x < image.width; ++x, dst += 4) {
      if (indexed) {
        const uint8_t i = index.get()[x];
        const bool clear = image.transparency_index >= 0 && i == image.transparency_index;
        PutPixel(dst, PaletteEntry(image, i), clear ? 0 : 255, rgba);
      } else if (bpp <= 16) {
        uint8_t bgr[3];
        Expand555(static_cast<uint16_t>(src[2 * x] | src[2 * x + 1] << 8), bgr);
        PutPixel(dst, bgr, 255, rgba);
      } else {
        const uint8_t *p = src + size_t{bpp / 8} * x;
        PutPixel(dst, p, bpp == 32 ? p[3] : 255, rgba);
      }
    }
  }
  std::free(*data);  // given up by the caller
  *data = out.release();
  *width = image.width;
  *height = image.height;
  return RASTER_OK;
}

RasterError SaveUnpackedArray(const char *filename, uint8_t bytes_per_pixel, int width,
                              int height, const unsigned char *data, int order) {
  SetLastRasterError(RASTER_OK);
  // A 1- or 2-byte array would make a palette record without a palette to
  // fill or 5-5-5 words the reordering cannot swap: refused.
  if (bytes_per_pixel != 3 && bytes_per_pixel != 4) return Stored(RASTER_ERR_INVALID_BPP);
  if (width <= 0 || height <= 0) return Stored(RASTER_ERR_INVALID_SIZE);
  if (!data) return Stored(RASTER_ERR_INVALID_IMAGE);
  OwnedRecord record;
  RasterImage &image = record.image;
  image.width = static_cast<uint32_t>(width);
  image.height = static_cast<uint32_t>(height);
  image.bits_per_pixel = static_cast<uint8_t>(8 * bytes_per_pixel);
  RasterError code = AllocateRasterImage(&image);
  if (code != RASTER_OK) return code;
  char key[4];
  if (!ExtensionKey(filename, key)) return Stored(RASTER_ERR_UNSUPPORTED_EXTENSION);

  // Unpadded rows: the record's rows are the array's, bytes_per_pixel x
  // width apart.
  const size_t bytes = size_t{image.scan_width} * image.height;
  if (order == 1) {
    std::memcpy(image.bits, data, bytes);
  } else {
    for (size_t i = 0; i < bytes; i += bytes_per_pixel) {
      image.bits[i] = data[i + 2];
      image.bits[i + 1] = data[i + 1];
      image.bits[i + 2] = data[i];
      if (bytes_per_pixel == 4) image.bits[i + 3] = data[i + 3];
    }
  }
  for (const WriterEntry &entry : kWriters)
    if (std::strcmp(key, entry.key) == 0) return entry.write(filename, image);
  return Stored(RASTER_ERR_UNSUPPORTED_EXTENSION);
}

BitmapInfoHeader CreateBMI(uint32_t width, uint32_t height, uint16_t bit_count,
                           uint32_t compression) {
  return InternalCreateBMI(width, height, bit_count, compression);
}

}  // namespace tsl
