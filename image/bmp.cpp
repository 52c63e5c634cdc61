// Uncompressed Windows bitmap files. The record's row order (bottom row
// first) and pixel layouts are BMP's own, so rows pass through unchanged
// apart from their padding.
#include "image/bmp.h"

#include <cstring>

#include "image/raster_io.h"

namespace tsl {

namespace {

constexpr uint16_t kBmpType = 0x4D42;  // "BM"
constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;

// Reads the fields the 40-byte header and its longer successors share.
bool GetInfoHeader(ByteReader *in, BitmapInfoHeader *h) {
  uint32_t w = 0, ht = 0, xr = 0, yr = 0;
  bool ok = in->LE32(&w) && in->LE32(&ht) && in->LE16(&h->planes) && in->LE16(&h->bit_count) &&
            in->LE32(&h->compression) && in->LE32(&h->image_size) && in->LE32(&xr) &&
            in->LE32(&yr) && in->LE32(&h->colors_used) && in->LE32(&h->colors_important);
  h->width = static_cast<int32_t>(w);
  h->height = static_cast<int32_t>(ht);
  h->x_pixels_per_meter = static_cast<int32_t>(xr);
  h->y_pixels_per_meter = static_cast<int32_t>(yr);
  return ok;
}

void PutInfoHeader(ByteWriter *out, const BitmapInfoHeader &h) {
  out->LE32(h.header_size);
  out->LE32(static_cast<uint32_t>(h.width));
  out->LE32(static_cast<uint32_t>(h.height));
  out->LE16(h.planes);
  out->LE16(h.bit_count);
  out->LE32(h.compression);
  out->LE32(h.image_size);
  out->LE32(static_cast<uint32_t>(h.x_pixels_per_meter));
  out->LE32(static_cast<uint32_t>(h.y_pixels_per_meter));
  out->LE32(h.colors_used);
  out->LE32(h.colors_important);
}

RasterError DecodeBmp(ByteReader in, RasterImage *image) {
  const uint8_t *fh;
  if (!in.Take(kFileHeaderSize, &fh)) return RASTER_ERR_READ;
  if ((fh[0] | fh[1] << 8) != kBmpType) return RASTER_ERR_UNSUPPORTED_OPTION;
  const uint32_t data_offset = LoadLE32(fh + 10);

  // The header size tells where the palette starts: ImageMagick and others
  // write the 108- and 124-byte successors, whose first 40 bytes are the same.
  BitmapInfoHeader h;
  if (!in.LE32(&h.header_size)) return RASTER_ERR_READ;
  if (h.header_size < kInfoHeaderSize) return RASTER_ERR_UNSUPPORTED_OPTION;
  if (!GetInfoHeader(&in, &h)) return RASTER_ERR_READ;
  if (h.compression != 0) return RASTER_ERR_UNSUPPORTED_OPTION;
  if (!in.Skip(h.header_size - kInfoHeaderSize)) return RASTER_ERR_READ;

  if (h.width <= 0 || h.height == 0) return RASTER_ERR_INVALID_SIZE;
  if (!IsRasterDepth(h.bit_count)) return RASTER_ERR_INVALID_BPP;
  const unsigned bpp = h.bit_count;
  const uint32_t width = static_cast<uint32_t>(h.width);
  const bool top_first = h.height < 0;
  const uint32_t height = top_first ? 0u - static_cast<uint32_t>(h.height)
                                    : static_cast<uint32_t>(h.height);

  // Entries beyond 1 << depth can never be indexed.
  uint32_t colors = 0;
  if (bpp <= 8) {
    colors = 1u << bpp;
    if (h.colors_used != 0 && h.colors_used < colors) colors = h.colors_used;
  }
  const uint8_t *palette_bytes;
  if (!in.Take(colors * 4, &palette_bytes)) return RASTER_ERR_READ;

  uint32_t padded_row;
  size_t data_size;
  if (!RasterRowBytes(width, bpp, true, &padded_row) ||
      !RasterBlockBytes(padded_row, height, &data_size))
    return RASTER_ERR_INVALID_SIZE;
  ByteReader data{nullptr, nullptr};
  if (!in.Seek(data_offset != 0 ? data_offset : in.Offset()) || !in.Sub(data_size, &data))
    return RASTER_ERR_READ;

  RasterError code = AllocateForRead(image, width, height, bpp, static_cast<uint16_t>(colors), 4);
  if (code != RASTER_OK) return code;
  if (colors) std::memcpy(image->palette, palette_bytes, colors * 4);
  const size_t row_bytes = image->scan_width < padded_row ? image->scan_width : padded_row;
  for (uint32_t k = 0; k < height; ++k) {
    const uint8_t *src = nullptr;
    data.Take(padded_row, &src);  // the block holds every row
    const uint32_t row = RecordRow(height, k, top_first);
    std::memcpy(image->bits + static_cast<size_t>(row) * image->scan_width, src, row_bytes);
  }
  return RASTER_OK;
}

RasterError EncodeBmp(const RasterImage &image, const char *, EncodedFile *out) {
  const unsigned file_bpp = image.bits_per_pixel == 32 ? 24 : image.bits_per_pixel;
  const uint32_t colors = image.bits_per_pixel <= 8 ? image.palette_size : 0;
  uint32_t padded_row;
  size_t data_size, file_size;
  const size_t data_offset = kFileHeaderSize + kInfoHeaderSize + 4 * colors;
  if (!RasterRowBytes(image.width, file_bpp, true, &padded_row) ||
      !RasterBlockBytes(padded_row, image.height, &data_size) ||
      !CheckedAdd(data_offset, data_size, &file_size) || file_size > kMaxRasterBytes)
    return RASTER_ERR_INVALID_SIZE;

  RasterError code = StartEncodedFile(file_size, out);
  if (code != RASTER_OK) return code;
  ByteWriter &w = out->writer;
  w.LE16(kBmpType);
  w.LE32(static_cast<uint32_t>(file_size));
  w.LE32(0);
  w.LE32(static_cast<uint32_t>(data_offset));

  BitmapInfoHeader h{};
  h.header_size = kInfoHeaderSize;
  h.width = static_cast<int32_t>(image.width);
  h.height = static_cast<int32_t>(image.height);
  h.planes = 1;
  h.bit_count = static_cast<uint16_t>(file_bpp);
  h.image_size = static_cast<uint32_t>(data_size);
  h.colors_used = colors;
  h.colors_important = colors;
  PutInfoHeader(&w, h);

  for (uint32_t i = 0; i < colors; ++i) {
    uint8_t *slot = w.Reserve(4);
    std::memcpy(slot, PaletteEntry(image, i), image.bytes_per_palette_entry >= 4 ? 4 : 3);
  }
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint8_t *src = image.bits + static_cast<size_t>(y) * image.scan_width;
    uint8_t *dst = w.Reserve(padded_row);
    if (image.bits_per_pixel == 32) {
      for (uint32_t x = 0; x < image.width; ++x) std::memcpy(dst + 3 * x, src + 4 * x, 3);
    } else {
      std::memcpy(dst, src, image.scan_width < padded_row ? image.scan_width : padded_row);
    }
  }
  return RASTER_OK;
}

}  // namespace

RasterError ReadBMP(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodeBmp);
}

RasterError ReadBMPMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodeBmp);
}

RasterError WriteBMP(const char *filename, RasterImage image) {
  return WriteRasterFile(filename, image, EncodeBmp);
}

}  // namespace tsl
