// Photoshop documents: the merged picture that follows the layers, 8 bits
// per channel, grey, duotone (read as grey), indexed or RGB (with alpha),
// raw or PackBits-compressed; planes of one channel each, top row first.
#include "image/psd.h"

#include <cstring>

#include "image/raster_io.h"

namespace tsl {

namespace {

constexpr size_t kHeaderSize = 26;
constexpr size_t kColourTableSize = 768;  // 256 reds, then greens, then blues
constexpr unsigned kMaxChannels = 4;
constexpr uint16_t kRaw = 0;
constexpr size_t kLongestRepeat = 128;  // from two encoded bytes

enum PsdMode : uint16_t { kGrey = 1, kIndexed = 2, kRgb = 3, kDuotone = 8 };

uint16_t Be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// The record byte of channel c in an RGB pixel: red, green, blue go to
// bytes 2, 1, 0 and alpha to byte 3.
unsigned RgbByte(unsigned c) { return c < 3 ? 2 - c : 3; }

// Skips a section opened by its 4-byte length.
bool SkipSection(ByteReader *in) {
  uint32_t length;
  return in->BE32(&length) && in->Skip(length);
}

// Fills byte `offset` of every pixel, pixels `step` bytes apart, from one
// raw plane in `file`: a row of one byte per pixel for each record row,
// the top row of the picture first.
RasterError ReadUncompressedChannel(RasterImage *image, size_t offset, unsigned step,
                                    ByteReader *file) {
  for (uint32_t r = 0; r < image->height; ++r) {
    const uint8_t *src;
    if (!file->Take(image->width, &src)) return RASTER_ERR_READ;
    uint8_t *dst = RasterRow(*image, RecordRow(image->height, r, true)) + offset;
    for (uint32_t x = 0; x < image->width; ++x) dst[static_cast<size_t>(x) * step] = src[x];
  }
  return RASTER_OK;
}

// Decodes the next `count` bytes of `file`, one PackBits row of one
// channel, into record row `row`: byte `offset` of every pixel, pixels
// `step` bytes apart, as far as the row's pixel bytes go. A channel the
// record does not keep is given the end of the pixel bytes as its offset:
// decoded and checked, stored nowhere.
RasterError ReadCompressedChannel(RasterImage *image, size_t offset, unsigned step,
                                  ByteReader *file, uint16_t count, uint32_t row) {
  ByteBlock decoded(static_cast<uint8_t *>(SafeCalloc(image->width, 1)));
  if (!decoded) return RASTER_ERR_MEMORY;
  ByteReader encoded{nullptr, nullptr};
  if (!file->Sub(count, &encoded)) return RASTER_ERR_READ;
  RasterError code = UnpackBits(&encoded, decoded.get(), image->width, true);
  if (code != RASTER_OK) return code;
  const size_t pixel_bytes = (size_t{image->bits_per_pixel} * image->width + 7) / 8;
  uint8_t *dst = RasterRow(*image, row);
  for (size_t x = 0, at = offset; x < image->width && at < pixel_bytes; ++x, at += step)
    dst[at] = decoded.get()[x];
  return RASTER_OK;
}

RasterError DecodePsd(ByteReader in, RasterImage *image) {
  const uint8_t *h;
  if (!in.Take(kHeaderSize, &h)) return RASTER_ERR_READ;
  if (std::memcmp(h, "8BPS", 4) != 0 || Be16(h + 4) != 1) return RASTER_ERR_CORRUPT_FILE;
  const unsigned channels = Be16(h + 12), depth = Be16(h + 22), mode = Be16(h + 24);
  const uint32_t height = LoadBE32(h + 14), width = LoadBE32(h + 18);
  // Bitmap, CMYK, multichannel and Lab documents, and modes no document
  // has, have no record layout; neither have depths other than 8.
  if (channels > kMaxChannels || channels == 0 || depth != 8) return RASTER_ERR_UNSUPPORTED_OPTION;
  if (mode != kGrey && mode != kIndexed && mode != kRgb && mode != kDuotone)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  const bool rgb = mode == kRgb;
  if (rgb && channels < 3) return RASTER_ERR_UNSUPPORTED_OPTION;

  uint32_t colour_data_length;
  ByteReader colour_data{nullptr, nullptr};
  if (!in.BE32(&colour_data_length) || !in.Sub(colour_data_length, &colour_data))
    return RASTER_ERR_READ;
  const uint8_t *table = nullptr;
  if (colour_data_length != 0) {
    if (mode == kIndexed) {
      // Bytes past the table are not ours to read.
      if (!colour_data.Take(kColourTableSize, &table)) return RASTER_ERR_CORRUPT_FILE;
    } else if (mode != kDuotone) {
      return RASTER_ERR_UNSUPPORTED_OPTION;
    }
  }
  uint16_t compression;
  if (!SkipSection(&in) || !SkipSection(&in) || !in.BE16(&compression)) return RASTER_ERR_READ;

  // Only RGB keeps every channel; grey and indexed pictures keep the
  // first and their other channels (alpha) are checked and dropped.
  const unsigned kept = rgb ? channels : 1;
  size_t plane;
  if (!RasterBlockBytes(width, height, &plane)) return RASTER_ERR_INVALID_SIZE;
  // Every channel's encoded rows lie in the file before the record is
  // allocated; a row of n bytes cannot hold more than 64n pixels.
  ByteReader counts{nullptr, nullptr};
  if (compression == kRaw) {
    if (in.Left() / plane < kept) return RASTER_ERR_READ;
  } else {
    if (in.Left() / 2 / height < channels) return RASTER_ERR_READ;
    in.Sub(size_t{2} * height * channels, &counts);
    size_t total = 0;
    uint16_t count;
    while (counts.BE16(&count)) {
      if (uint64_t{count} * (kLongestRepeat / 2) < width) return RASTER_ERR_CORRUPT_FILE;
      total += count;
    }
    if (total > in.Left()) return RASTER_ERR_READ;
    counts.Seek(0);
  }

  RasterError code = AllocateForRead(image, width, height, rgb ? 8 * channels : 8,
                                     rgb ? 0 : 256, 0);
  if (code != RASTER_OK) return code;
  for (unsigned i = 0; i < image->palette_size; ++i) {
    const uint8_t grey = static_cast<uint8_t>(i);
    if (table)
      SetPaletteEntry(image, i, table[i], table[256 + i], table[512 + i]);
    else if (mode != kIndexed)
      SetPaletteEntry(image, i, grey, grey, grey);
  }

  const unsigned step = rgb ? channels : 1;
  if (compression == kRaw) {
    for (unsigned c = 0; c < kept; ++c) {
      code = ReadUncompressedChannel(image, rgb ? RgbByte(c) : 0, step, &in);
      if (code != RASTER_OK) return code;
    }
    return RASTER_OK;
  }
  const size_t pixel_bytes = size_t{width} * step;
  for (unsigned c = 0; c < channels; ++c)
    for (uint32_t r = 0; r < height; ++r) {
      uint16_t count = 0;
      counts.BE16(&count);  // inside the table taken above
      const size_t offset = c >= kept ? pixel_bytes : rgb ? RgbByte(c) : 0;
      code = ReadCompressedChannel(image, offset, step, &in, count, RecordRow(height, r, true));
      if (code != RASTER_OK) return code;
    }
  return RASTER_OK;
}

}  // namespace

RasterError ReadPSD(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodePsd);
}

RasterError ReadPSDMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodePsd);
}

}  // namespace tsl
