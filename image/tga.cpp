// Truevision TGA files: colour-mapped, true-colour and grey, uncompressed or
// run-length encoded on reading; uncompressed, top row first on writing.
#include "image/tga.h"

#include <cstring>

#include "image/raster_io.h"

namespace tsl {

namespace {

constexpr size_t kHeaderSize = 18;
constexpr uint32_t kMaxSide = 65535;  // the header's 16-bit width and height

enum TgaImageType { kTgaMapped = 1, kTgaTrueColor = 2, kTgaGrey = 3, kTgaRle = 8 };
constexpr uint8_t kDescAlpha = 0x08;
constexpr uint8_t kDescRightToLeft = 0x10;
constexpr uint8_t kDescTopFirst = 0x20;

// Places pixels in file order into the record, whatever corner the file
// starts from.
struct PixelSink {
  RasterImage *image;
  unsigned keep;  // bytes kept per pixel
  bool top_first;
  bool right_to_left;
  uint32_t x = 0, y = 0;

  bool Full() const { return y == image->height; }
  void Put(const uint8_t *pixel) {
    const uint32_t row = RecordRow(image->height, y, top_first);
    const uint32_t col = right_to_left ? image->width - 1 - x : x;
    std::memcpy(image->bits + static_cast<size_t>(row) * image->scan_width +
                    static_cast<size_t>(col) * keep,
                pixel, keep);
    if (++x == image->width) {
      x = 0;
      ++y;
    }
  }
  // A whole file row of `pixel_bytes` per pixel, at the start of a row.
  void PutRow(const uint8_t *pixels, unsigned pixel_bytes) {
    if (right_to_left || pixel_bytes != keep) {
      for (uint32_t i = 0; i < image->width; ++i) Put(pixels + static_cast<size_t>(i) * pixel_bytes);
      return;
    }
    const uint32_t row = RecordRow(image->height, y, top_first);
    std::memcpy(image->bits + static_cast<size_t>(row) * image->scan_width, pixels,
                static_cast<size_t>(image->width) * keep);
    ++y;
  }
};

// Runs that reach past the last pixel are cut there.
RasterError DecodeRle(ByteReader *in, unsigned pixel_bytes, PixelSink *sink) {
  while (!sink->Full()) {
    uint8_t head;
    if (!in->U8(&head)) return RASTER_ERR_READ;
    unsigned count = (head & 0x7F) + 1u;
    const uint8_t *pixel;
    if (head & 0x80) {
      if (!in->Take(pixel_bytes, &pixel)) return RASTER_ERR_READ;
      while (count-- && !sink->Full()) sink->Put(pixel);
    } else {
      while (count-- && !sink->Full()) {
        if (!in->Take(pixel_bytes, &pixel)) return RASTER_ERR_READ;
        sink->Put(pixel);
      }
    }
  }
  return RASTER_OK;
}

RasterError DecodeTga(ByteReader in, RasterImage *image) {
  const uint8_t *h;
  if (!in.Take(kHeaderSize, &h)) return RASTER_ERR_READ;
  const unsigned id_length = h[0], map_type = h[1], type = h[2];
  const unsigned map_length = h[5] | h[6] << 8, map_bits = h[7];
  const uint32_t width = h[12] | h[13] << 8, height = h[14] | h[15] << 8;
  const unsigned depth = h[16], descriptor = h[17];

  if (type == 0) return RASTER_ERR_UNSUPPORTED_OPTION;
  if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  const unsigned kind = type & ~static_cast<unsigned>(kTgaRle);
  if (kind < kTgaMapped || kind > kTgaGrey || (type & ~0x0Bu) != 0)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  const bool mapped = kind == kTgaMapped;
  if (mapped && map_type == 1 && map_length > 256) return RASTER_ERR_UNSUPPORTED_OPTION;
  // A palette that cannot be read would leave every pixel black.
  if (mapped && map_type == 1 && map_bits != 8 && map_bits != 15 && map_bits != 16 &&
      map_bits != 24 && map_bits != 32)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  // Indices and grey levels are bytes; true colour is never 8 bits.
  if ((kind == kTgaTrueColor) == (depth == 8)) return RASTER_ERR_UNSUPPORTED_OPTION;

  if (!in.Skip(id_length)) return RASTER_ERR_READ;
  // A colour map serves as the palette of a colour-mapped image only; any
  // other map is skipped by its size.
  const uint8_t *map = nullptr;
  if (map_type == 1) {
    if (!in.Take(static_cast<size_t>(map_length) * ((map_bits + 7) / 8), &map))
      return RASTER_ERR_READ;
    if (!mapped) map = nullptr;
  }

  const bool alpha = depth == 32 && (descriptor & kDescAlpha);
  const unsigned pixel_bytes = (depth + 7) / 8;
  const unsigned bpp = depth == 15 ? 16 : (depth == 32 && !alpha) ? 24 : depth;
  uint32_t row_bytes;
  size_t data_size;
  if (!RasterRowBytes(width, 8 * pixel_bytes, false, &row_bytes) ||
      !RasterBlockBytes(row_bytes, height, &data_size))
    return RASTER_ERR_INVALID_SIZE;
  // The least data that could fill the picture: a run packet covers at most
  // 128 pixels.
  const size_t pixels = data_size / pixel_bytes;
  const size_t least = (type & kTgaRle) ? (pixels + 127) / 128 * (1 + pixel_bytes) : data_size;
  if (in.Left() < least) return RASTER_ERR_READ;

  const uint16_t palette_size = mapped && map_type == 1 ? static_cast<uint16_t>(map_length) : 0;
  RasterError code = AllocateForRead(image, width, height, bpp, palette_size, 0);
  if (code != RASTER_OK) return code;

  if (image->palette) {
    uint8_t *entry = image->palette;
    const unsigned step = image->bytes_per_palette_entry;
    if (map) {
      const unsigned map_bytes = (map_bits + 7) / 8;
      for (unsigned i = 0; i < map_length; ++i, entry += step, map += map_bytes) {
        if (map_bytes == 1) {
          std::memset(entry, map[0], 3);  // a grey level, as netpbm writes grey maps
        } else if (map_bytes == 2) {
          Expand555(static_cast<uint16_t>(map[0] | map[1] << 8), entry);
        } else {
          std::memcpy(entry, map, 3);  // a fourth byte (alpha) is not kept
        }
      }
    } else if (!(mapped && map_type == 1)) {
      // Grey images, and colour-mapped ones without a map, read as a ramp.
      for (unsigned i = 0; i < image->palette_size; ++i, entry += step)
        std::memset(entry, static_cast<int>(i * (256 / image->palette_size)), 3);
    }
  }

  PixelSink sink{image, bpp / 8u, (descriptor & kDescTopFirst) != 0,
                 (descriptor & kDescRightToLeft) != 0};
  if (type & kTgaRle) return DecodeRle(&in, pixel_bytes, &sink);
  const size_t row_size = static_cast<size_t>(width) * pixel_bytes;
  for (uint32_t i = 0; i < height; ++i) {
    const uint8_t *pixels;
    if (!in.Take(row_size, &pixels)) return RASTER_ERR_READ;
    sink.PutRow(pixels, pixel_bytes);
  }
  return RASTER_OK;
}

RasterError EncodeTga(const RasterImage &image, const char *, EncodedFile *out) {
  if (image.width > kMaxSide || image.height > kMaxSide) return RASTER_ERR_INVALID_SIZE;
  const bool indexed = image.bits_per_pixel <= 8;
  // Indices stand for grey levels only when the palette is the exact ramp.
  const bool grey = indexed && image.palette_size == 256 && IsGreyRamp(image);
  const unsigned map_length = indexed && !grey ? (image.palette_size > 256 ? 256 : image.palette_size) : 0;
  // Colour maps go out as blue, green, red whatever the record's entry
  // size: a fourth byte would be read as the colour's alpha, and the
  // record's reserved byte is 0, which would make every colour transparent.
  const unsigned entry_bytes = 3;
  const unsigned pixel_bytes = indexed ? 1 : image.bits_per_pixel / 8u;
  size_t data_size, file_size;
  if (!RasterBlockBytes(static_cast<uint64_t>(image.width) * pixel_bytes, image.height,
                        &data_size) ||
      !CheckedAdd(kHeaderSize + map_length * entry_bytes, data_size, &file_size))
    return RASTER_ERR_INVALID_SIZE;

  RasterError code = StartEncodedFile(file_size, out);
  if (code != RASTER_OK) return code;
  ByteWriter &w = out->writer;
  w.U8(0);                        // no image ID
  w.U8(map_length ? 1 : 0);       // colour-map type
  w.U8(!indexed ? kTgaTrueColor : grey ? kTgaGrey : kTgaMapped);
  w.LE16(0);                      // first map index
  w.LE16(static_cast<uint16_t>(map_length));
  w.U8(static_cast<uint8_t>(map_length ? 8 * entry_bytes : 0));
  w.LE16(0);                      // x origin
  w.LE16(0);                      // y origin
  w.LE16(static_cast<uint16_t>(image.width));
  w.LE16(static_cast<uint16_t>(image.height));
  w.U8(static_cast<uint8_t>(indexed ? 8 : image.bits_per_pixel));
  w.U8(image.bits_per_pixel == 32 ? kDescTopFirst | kDescAlpha : kDescTopFirst);
  for (unsigned i = 0; i < map_length; ++i) w.Bytes(PaletteEntry(image, i), entry_bytes);

  const size_t row_bytes = static_cast<size_t>(image.width) * pixel_bytes;
  for (uint32_t k = 0; k < image.height; ++k) {
    const uint32_t row = image.height - 1 - k;
    uint8_t *dst = w.Reserve(row_bytes);
    if (indexed)
      UnpackIndexRow(image, row, dst);
    else
      std::memcpy(dst, image.bits + static_cast<size_t>(row) * image.scan_width, row_bytes);
  }
  return RASTER_OK;
}

}  // namespace

RasterError ReadTGA(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodeTga);
}

RasterError ReadTGAMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodeTga);
}

RasterError WriteTGA(const char *filename, RasterImage image) {
  return WriteRasterFile(filename, image, EncodeTga);
}

}  // namespace tsl
