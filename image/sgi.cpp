// SGI image files: one byte per channel, channels in separate planes, the
// bottom row first; read verbatim or run-length encoded, written verbatim.
#include "image/sgi.h"

#include <cstring>

#include "image/raster_io.h"

namespace tsl {

namespace {

constexpr size_t kHeaderSize = 512;
constexpr int16_t kMagic = 474;
constexpr uint32_t kMaxSide = 65535;  // the header's 16-bit sizes
constexpr size_t kNameField = 80;

// Record byte of channel c: red, green, blue land in bytes 2, 1, 0, alpha
// in byte 3, a single grey channel in byte 0.
unsigned ChannelByte(unsigned c, unsigned channels) {
  if (channels == 1) return 0;
  return c < 3 ? 2 - c : 3;
}

// One run-length row: control bytes with bit 7 set copy that many literal
// bytes, others repeat the next byte that many times; the row ends in a 0,
// or, as GIMP's aggressive run-length rows do, with the run that fills the
// width. Nothing is read outside the row's data or written outside the
// record row.
RasterError DecodeRleRow(ByteReader data, uint8_t *dst, uint32_t width, unsigned step) {
  uint32_t x = 0;
  while (data.Left() > 1) {
    uint8_t control = 0, value = 0;
    data.U8(&control);
    const unsigned n = control & 0x7F;
    if (n > width - x) return RASTER_ERR_CORRUPT_FILE;
    if (control & 0x80) {
      const uint8_t *literal;
      if (!data.Take(n, &literal)) return RASTER_ERR_CORRUPT_FILE;
      for (unsigned i = 0; i < n; ++i) dst[static_cast<size_t>(x + i) * step] = literal[i];
    } else {
      data.U8(&value);
      for (unsigned i = 0; i < n; ++i) dst[static_cast<size_t>(x + i) * step] = value;
    }
    x += n;
  }
  if (x == width && data.Left() == 0) return RASTER_OK;
  uint8_t last;
  if (!data.U8(&last) || last != 0) return RASTER_ERR_UNSUPPORTED_OPTION;
  return RASTER_OK;
}

RasterError DecodeSgi(ByteReader in, RasterImage *image) {
  const ByteReader file = in;
  ByteReader h{nullptr, nullptr};
  if (!in.Sub(kHeaderSize, &h)) return RASTER_ERR_READ;
  uint16_t magic, dimension, xsize, ysize, zsize;
  uint8_t storage, channel_bytes;
  h.BE16(&magic);
  h.U8(&storage);
  h.U8(&channel_bytes);
  h.BE16(&dimension);
  h.BE16(&xsize);
  h.BE16(&ysize);
  h.BE16(&zsize);
  uint32_t colormap_type = 0;
  h.Seek(104);
  h.BE32(&colormap_type);
  const int32_t colormap = static_cast<int32_t>(colormap_type);
  if (static_cast<int16_t>(magic) != kMagic || colormap > 0 || channel_bytes == 2)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  // Two channels (grey and alpha) and other counts have no record layout.
  if (zsize != 1 && zsize != 3 && zsize != 4) return RASTER_ERR_INVALID_BPP;

  const unsigned channels = zsize;
  const uint32_t width = xsize;
  // A one-dimensional image is one row, whatever the file's y size says;
  // the file is still laid out by its y size.
  const uint32_t height = dimension == 1 ? 1 : ysize;
  const uint32_t file_rows = dimension == 1 && ysize == 0 ? 1 : ysize;
  size_t plane, planes, record;
  if (!RasterBlockBytes(width, file_rows, &plane) ||
      !RasterBlockBytes(width, file_rows, channels, &planes) ||
      !RasterBlockBytes(static_cast<uint64_t>(width) * channels, height, &record))
    return RASTER_ERR_INVALID_SIZE;

  const bool rle = storage != 0;
  const size_t entries = static_cast<size_t>(file_rows) * channels;
  ByteReader starts{nullptr, nullptr}, lengths{nullptr, nullptr}, verbatim{nullptr, nullptr};
  if (rle) {
    if (!in.Sub(4 * entries, &starts) || !in.Sub(4 * entries, &lengths)) return RASTER_ERR_READ;
  } else if (!in.Sub(planes, &verbatim)) {
    return RASTER_ERR_READ;
  }

  RasterError code = AllocateForRead(image, width, height, 8 * channels, 0, 0);
  if (code != RASTER_OK) return code;
  for (uint32_t r = 0; r < height; ++r) {
    uint8_t *row = image->bits + static_cast<size_t>(r) * image->scan_width;
    for (unsigned c = 0; c < channels; ++c) {
      uint8_t *dst = row + ChannelByte(c, channels);
      if (!rle) {
        const uint8_t *src = nullptr;
        verbatim.Seek(c * plane + static_cast<size_t>(r) * width);
        verbatim.Take(width, &src);  // inside the planes taken above
        for (uint32_t x = 0; x < width; ++x) dst[static_cast<size_t>(x) * channels] = src[x];
        continue;
      }
      const size_t entry = 4 * (r + static_cast<size_t>(c) * file_rows);
      uint32_t start = 0, length = 0;
      starts.Seek(entry), lengths.Seek(entry);
      starts.BE32(&start), lengths.BE32(&length);
      ByteReader row_data = file, data{nullptr, nullptr};
      if (!row_data.Seek(start) || !row_data.Sub(length, &data)) return RASTER_ERR_READ;
      code = DecodeRleRow(data, dst, width, channels);
      if (code != RASTER_OK) return code;
    }
  }
  if (image->palette) {
    for (unsigned i = 0; i < image->palette_size; ++i)
      std::memset(image->palette + i * image->bytes_per_palette_entry, static_cast<int>(i), 3);
  }
  return RASTER_OK;
}

// Channel c of pixel x of record row `row`, for the file's channel count.
uint8_t ChannelValue(const RasterImage &image, const uint8_t *row, const uint8_t *indices,
                     uint32_t x, unsigned c, bool grey) {
  if (indices) {
    const uint8_t *entry = PaletteEntry(image, indices[x]);
    return grey ? entry[2] : entry[2 - c];
  }
  if (image.bits_per_pixel == 16) {
    uint8_t bgr[3];
    Expand555(static_cast<uint16_t>(row[2 * x] | row[2 * x + 1] << 8), bgr);
    return bgr[2 - c];
  }
  const unsigned step = image.bits_per_pixel / 8u;
  return row[static_cast<size_t>(x) * step + ChannelByte(c, 3)];
}

RasterError EncodeSgi(const RasterImage &image, const char *filename, EncodedFile *out) {
  if (image.width > kMaxSide || image.height > kMaxSide) return RASTER_ERR_INVALID_SIZE;
  const bool indexed = image.bits_per_pixel <= 8;
  const bool grey = indexed && IsGreyPalette(image);
  const unsigned channels = grey ? 1 : image.bits_per_pixel == 32 ? 4 : 3;
  size_t planes, file_size;
  if (!RasterBlockBytes(image.width, image.height, channels, &planes) ||
      !CheckedAdd(kHeaderSize, planes, &file_size))
    return RASTER_ERR_INVALID_SIZE;
  std::unique_ptr<uint8_t, FreeDeleter> indices;
  if (indexed) {
    indices.reset(static_cast<uint8_t *>(SafeMalloc(image.width, 1)));
    if (!indices) return RASTER_ERR_MEMORY;
  }

  RasterError code = StartEncodedFile(file_size, out);
  if (code != RASTER_OK) return code;
  ByteWriter &w = out->writer;
  w.BE16(kMagic);
  w.U8(0);  // verbatim
  w.U8(1);  // one byte per channel
  w.BE16(grey ? 2 : 3);
  w.BE16(static_cast<uint16_t>(image.width));
  w.BE16(static_cast<uint16_t>(image.height));
  w.BE16(static_cast<uint16_t>(channels));
  w.BE32(0);    // minimum pixel value
  w.BE32(255);  // maximum pixel value
  w.BE32(0);
  uint8_t *name = w.Reserve(kNameField);
  if (filename) {
    size_t n = std::strlen(filename);
    std::memcpy(name, filename, n < kNameField - 1 ? n : kNameField - 1);
  }
  w.Reserve(kHeaderSize - 104);  // colour map type 0 and reserved bytes

  for (unsigned c = 0; c < channels; ++c) {
    for (uint32_t y = 0; y < image.height; ++y) {
      const uint8_t *row = image.bits + static_cast<size_t>(y) * image.scan_width;
      if (indices) UnpackIndexRow(image, y, indices.get());
      uint8_t *dst = w.Reserve(image.width);
      for (uint32_t x = 0; x < image.width; ++x)
        dst[x] = ChannelValue(image, row, indices.get(), x, c, grey);
    }
  }
  return RASTER_OK;
}

}  // namespace

RasterError ReadRGB(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodeSgi);
}

RasterError ReadRGBMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodeSgi);
}

RasterError WriteRGB(const char *filename, RasterImage image) {
  return WriteRasterFile(filename, image, EncodeSgi);
}

}  // namespace tsl
