// Photoshop documents: the merged picture that follows the layers, 8 bits
// per channel, grey, duotone (read as grey), indexed or RGB (with alpha),
// raw or PackBits-compressed; planes of one channel each, top row first.
#include "image/psd.h"

#include <cstring>
#include <vector>

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
  ByteReader counts{nullptr, nullptr}, planes{nullptr, nullptr};
  if (compression == kRaw) {
    if (in.Left() / plane < kept) return RASTER_ERR_READ;
    in.Sub(plane * kept, &planes);
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
  std::vector<uint8_t> row(width);
  for (unsigned c = 0; c < channels; ++c) {
    if (compression == kRaw && c >= kept) break;  // not read
    for (uint32_t r = 0; r < height; ++r) {
      const uint8_t *src = row.data();
      if (compression == kRaw) {
        planes.Take(width, &src);  // inside the planes taken above
      } else {
        uint16_t count = 0;
        ByteReader encoded{nullptr, nullptr};
        counts.BE16(&count);
        in.Sub(count, &encoded);  // inside the total checked above
        code = UnpackBits(&encoded, row.data(), width, true);
        if (code != RASTER_OK) return code;
      }
      if (c >= kept) continue;
      uint8_t *dst = RasterRow(*image, RecordRow(height, r, true)) + (rgb ? RgbByte(c) : 0);
      for (uint32_t x = 0; x < width; ++x) dst[static_cast<size_t>(x) * step] = src[x];
    }
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
