// Autodesk Animator pictures: CEL files (a 32-byte header, a 64-level
// palette and raw rows) and FLI/FLC animations, of which the first frame
// that carries a palette or pixels is read. All integers little-endian;
// rows top row first.
#include "image/cel.h"

#include <cstring>

#include "image/raster_io.h"

namespace tsl {

namespace {

constexpr uint16_t kCelMagic = 0x9119;
constexpr uint16_t kFliMagic = 0xAF11;
constexpr uint16_t kFlcMagic = 0xAF12;
constexpr size_t kCelHeaderSize = 32;
constexpr size_t kFlicHeaderSize = 128;
constexpr uint32_t kChunkHeaderSize = 16;
constexpr uint32_t kSubChunkHeaderSize = 6;
constexpr uint16_t kFrame = 0xF1FA;
constexpr unsigned kColours = 256;

// Sub-chunks of a frame.
enum FlicData : uint16_t {
  kColour256 = 4,
  kDelta = 7,
  kColour64 = 11,
  kLineCompressed = 12,
  kBlack = 13,
  kByteRun = 15,
  kCopy = 16,
  kStamp = 18
};

// A 64-level value (0 to 63) as an 8-bit one, kept to 8 bits.
uint8_t Level64(uint8_t v) { return static_cast<uint8_t>(v * 4); }

void SetEntry(RasterImage *image, unsigned i, const uint8_t *rgb, bool levels64) {
  if (levels64)
    SetPaletteEntry(image, i, Level64(rgb[0]), Level64(rgb[1]), Level64(rgb[2]));
  else
    SetPaletteEntry(image, i, rgb[0], rgb[1], rgb[2]);
}

// A CEL picture: header, 64-level palette, rows. `file` holds the whole
// file.
RasterError ReadSimpleCEL(ByteReader file, RasterImage *image) {
  const uint8_t *h, *palette;
  if (!file.Take(kCelHeaderSize, &h)) return RASTER_ERR_READ;
  const uint32_t width = static_cast<uint32_t>(h[2] | h[3] << 8);
  const uint32_t height = static_cast<uint32_t>(h[4] | h[5] << 8);
  if ((h[0] | h[1] << 8) != kCelMagic || h[10] != 8 || h[11] != 0)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  size_t pixels;
  if (!RasterBlockBytes(width, height, &pixels)) return RASTER_ERR_INVALID_SIZE;
  if (!file.Take(3 * kColours, &palette) || file.Left() < pixels) return RASTER_ERR_READ;
  RasterError code = AllocateForRead(image, width, height, 8, kColours, 0);
  if (code != RASTER_OK) return code;
  for (unsigned i = 0; i < kColours; ++i) SetEntry(image, i, palette + 3 * i, true);
  for (uint32_t r = 0; r < height; ++r) {
    const uint8_t *row = nullptr;
    file.Take(width, &row);  // present: checked above
    std::memcpy(RasterRow(*image, RecordRow(height, r, true)), row, width);
  }
  return RASTER_OK;
}

// A palette sub-chunk's `data`: packets of a skip count (entries passed
// over) and a colour count (0 for 256) followed by that many red, green,
// blue triples.
RasterError ReadFLICPalette(RasterImage *image, ByteReader data, bool levels64) {
  uint16_t packets;
  if (!data.LE16(&packets)) return RASTER_ERR_CORRUPT_FILE;
  unsigned index = 0;
  for (unsigned p = 0; p < packets; ++p) {
    uint8_t skip, count;
    const uint8_t *triples;
    if (!data.U8(&skip) || !data.U8(&count)) return RASTER_ERR_CORRUPT_FILE;
    const unsigned n = count ? count : kColours;
    index += skip;
    if (index > kColours || n > kColours - index || !data.Take(3 * n, &triples))
      return RASTER_ERR_CORRUPT_FILE;
    for (unsigned i = 0; i < n; ++i) SetEntry(image, index + i, triples + 3 * i, levels64);
    index += n;
  }
  return data.Left() == 0 ? RASTER_OK : RASTER_ERR_CORRUPT_FILE;
}

// Draws a run of `count` units of `unit` bytes (1 or 2) from column *x of
// `row`, a row of `width` bytes, moving *x past it: with `repeat` one unit
// read from `data` repeated, else `count` units copied from it. A run past
// the row, or data short of it, is refused.
bool DrawRun(ByteReader *data, uint8_t *row, uint32_t width, uint32_t *x, uint32_t count,
             uint32_t unit, bool repeat) {
  const uint32_t bytes = count * unit;  // count is at most 128
  const uint8_t *src;
  if (bytes > width - *x || !data->Take(repeat ? unit : bytes, &src)) return false;
  if (!repeat)
    std::memcpy(row + *x, src, bytes);
  else if (unit == 1)
    std::memset(row + *x, src[0], bytes);
  else
    for (uint32_t i = 0; i < bytes; ++i) row[*x + i] = src[i % unit];
  *x += bytes;
  return true;
}

// A byte-run sub-chunk's `data`, each row: a packet count (not trusted, as
// wide rows overflow it), then runs until the row is full: a positive count
// repeats the next byte, a negative one copies that many bytes. Runs that
// pass the row are refused.
RasterError ReadFLICBRUN(RasterImage *image, ByteReader data) {
  for (uint32_t y = 0; y < image->height; ++y) {
    uint8_t *row = RasterRow(*image, RecordRow(image->height, y, true));
    if (!data.Skip(1)) return RASTER_ERR_CORRUPT_FILE;
    for (uint32_t x = 0; x < image->width;) {
      uint8_t control;
      if (!data.U8(&control)) return RASTER_ERR_CORRUPT_FILE;
      const int n = static_cast<int8_t>(control);
      if (!DrawRun(&data, row, image->width, &x, static_cast<uint32_t>(n < 0 ? -n : n), 1, n > 0))
        return RASTER_ERR_CORRUPT_FILE;
    }
  }
  // Chunks are padded to an even length: one byte may be left.
  return data.Left() <= 1 ? RASTER_OK : RASTER_ERR_CORRUPT_FILE;
}

// Draws a delta line's `packets` over `row`: each a skip byte (columns left
// as they are) and a signed count of units of `unit` bytes, positive
// copying that many, negative repeating the next unit. Packets passing the
// row are refused.
bool DrawDeltaPackets(ByteReader *data, uint8_t *row, uint32_t width, unsigned packets,
                      uint32_t unit) {
  uint32_t x = 0;
  for (unsigned p = 0; p < packets; ++p) {
    uint8_t skip, control;
    if (!data->U8(&skip) || !data->U8(&control) || skip > width - x) return false;
    x += skip;
    const int n = static_cast<int8_t>(control);
    if (!DrawRun(data, row, width, &x, static_cast<uint32_t>(n < 0 ? -n : n), unit, n < 0))
      return false;
  }
  return true;
}

// A byte-delta sub-chunk's `data`, drawn over the picture: the first line
// changed and the number of lines, then each line's packet count and
// packets of bytes. Lines past the picture are refused.
RasterError ReadFLICLC(RasterImage *image, ByteReader data) {
  uint16_t first, lines;
  if (!data.LE16(&first) || !data.LE16(&lines) || lines > image->height ||
      first > image->height - lines)
    return RASTER_ERR_CORRUPT_FILE;
  for (uint32_t y = first; y < first + lines; ++y) {
    uint8_t packets;
    uint8_t *row = RasterRow(*image, RecordRow(image->height, y, true));
    if (!data.U8(&packets) || !DrawDeltaPackets(&data, row, image->width, packets, 1))
      return RASTER_ERR_CORRUPT_FILE;
  }
  return data.Left() <= 1 ? RASTER_OK : RASTER_ERR_CORRUPT_FILE;
}

// A word-delta sub-chunk's `data`, drawn over the picture: the number of
// lines drawn, then per line words whose top two bits say what they hold:
// lines to skip (11, as a negative number), the line's last byte in the low
// byte (10, for odd widths, which words cannot reach), or the count of
// packets of words that follow (00). Lines past the picture and words of
// top bits 01 are refused.
RasterError ReadFLICSS2(RasterImage *image, ByteReader data) {
  uint16_t lines, word;
  if (!data.LE16(&lines)) return RASTER_ERR_CORRUPT_FILE;
  uint32_t y = 0;
  for (unsigned i = 0; i < lines; ++i) {
    int last = -1;
    for (;;) {
      if (!data.LE16(&word)) return RASTER_ERR_CORRUPT_FILE;
      const unsigned kind = word >> 14;
      if (kind == 0) break;
      if (kind == 1) return RASTER_ERR_CORRUPT_FILE;
      if (kind == 2) {
        last = word & 0xFF;
      } else {
        const uint32_t skip = 0x10000u - word;
        if (skip > image->height - y) return RASTER_ERR_CORRUPT_FILE;
        y += skip;
      }
    }
    if (y >= image->height) return RASTER_ERR_CORRUPT_FILE;
    uint8_t *row = RasterRow(*image, RecordRow(image->height, y++, true));
    if (last >= 0) row[image->width - 1] = static_cast<uint8_t>(last);
    if (!DrawDeltaPackets(&data, row, image->width, word, 2)) return RASTER_ERR_CORRUPT_FILE;
  }
  return data.Left() <= 1 ? RASTER_OK : RASTER_ERR_CORRUPT_FILE;
}

// An uncompressed sub-chunk's `data`: the rows, and the pad byte that makes
// an odd count even when the sub-chunk's size counts it.
RasterError ReadCopy(ByteReader data, RasterImage *image) {
  const size_t pixels = static_cast<size_t>(image->width) * image->height;
  if (data.Left() != pixels && data.Left() != pixels + (pixels & 1))
    return RASTER_ERR_CORRUPT_FILE;
  for (uint32_t y = 0; y < image->height; ++y) {
    const uint8_t *row = nullptr;
    data.Take(image->width, &row);  // present: the size matches
    std::memcpy(RasterRow(*image, RecordRow(image->height, y, true)), row, image->width);
  }
  return RASTER_OK;
}

// Reads a frame's sub-chunks until both a palette and a whole picture's
// pixels (black, byte-run or copied) have come or the frame's `sub_chunks`
// run out, setting the flags as they come. Delta sub-chunks set the pixels
// flag too, so their frame ends the read, but change only part of the
// picture: a whole one may still follow them. `frame`
// holds the bytes of the frame that the file holds, of the `length` its
// header declares: a file may end before the pad byte its last frame counts,
// so the frame is read one sub-chunk at a time and only a sub-chunk the
// file cuts is a short read. Sub-chunks lie inside their frame.
RasterError ReadFLICDataChunks(unsigned sub_chunks, ByteReader frame, size_t length,
                               RasterImage *image, int *pixels_read, int *palette_read) {
  const auto missing = [&](size_t n) {
    return n > length - frame.Offset() ? RASTER_ERR_CORRUPT_FILE : RASTER_ERR_READ;
  };
  int whole = 0;
  for (unsigned i = 0; i < sub_chunks && !(whole && *palette_read); ++i) {
    uint32_t size = 0;
    uint16_t type = 0;
    ByteReader data{nullptr, nullptr};
    if (frame.Left() < kSubChunkHeaderSize) return missing(kSubChunkHeaderSize);
    frame.LE32(&size), frame.LE16(&type);
    if (size < kSubChunkHeaderSize) return RASTER_ERR_CORRUPT_FILE;
    if (!frame.Sub(size - kSubChunkHeaderSize, &data)) return missing(size - kSubChunkHeaderSize);
    RasterError code = RASTER_OK;
    switch (type) {
      case kColour256:
      case kColour64:
        code = ReadFLICPalette(image, data, type == kColour64);
        *palette_read = 1;
        break;
      case kStamp:
        break;
      case kDelta:
      case kLineCompressed:
        // Drawn over the picture as it stands: the black screen, or pixels
        // an earlier sub-chunk of this frame brought.
        code = type == kDelta ? ReadFLICSS2(image, data) : ReadFLICLC(image, data);
        *pixels_read = 1;
        break;
      case kBlack:
        // The record starts black; only pixels already read need clearing.
        if (*pixels_read)
          std::memset(image->bits, 0, static_cast<size_t>(image->scan_width) * image->height);
        *pixels_read = whole = 1;
        break;
      case kByteRun:
        code = ReadFLICBRUN(image, data);
        *pixels_read = whole = 1;
        break;
      case kCopy:
        code = ReadCopy(data, image);
        *pixels_read = whole = 1;
        break;
      default:
        return RASTER_ERR_UNSUPPORTED_OPTION;
    }
    if (code != RASTER_OK) return code;
  }
  return RASTER_OK;
}

// An FLI or FLC animation's first frame that brings a palette or pixels.
// `file` holds the whole file.
RasterError ReadFLIC(ByteReader file, RasterImage *image) {
  const uint8_t *h;
  if (!file.Take(kFlicHeaderSize, &h)) return RASTER_ERR_READ;
  const unsigned magic = h[4] | h[5] << 8, depth = h[12] | h[13] << 8;
  if ((magic != kFliMagic && magic != kFlcMagic) || depth != 8)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  const uint32_t width = static_cast<uint32_t>(h[8] | h[9] << 8);
  const uint32_t height = static_cast<uint32_t>(h[10] | h[11] << 8);
  // A black frame fills any picture from six bytes.
  if (!PictureFitsFile(width, height, file.Size())) return RASTER_ERR_INVALID_SIZE;
  RasterError code = AllocateForRead(image, width, height, 8, kColours, 0);
  if (code != RASTER_OK) return code;
  int pixels_read = 0, palette_read = 0;
  while (!pixels_read && !palette_read) {
    uint32_t size;
    uint16_t type, sub_chunks;
    if (!file.LE32(&size) || !file.LE16(&type) || !file.LE16(&sub_chunks) || !file.Skip(8))
      return RASTER_ERR_READ;
    // A size below the header would step backwards or stand still.
    if (size < kChunkHeaderSize) return RASTER_ERR_CORRUPT_FILE;
    const size_t length = size - kChunkHeaderSize;
    if (type != kFrame) {  // prefix and unknown chunks: skipped
      if (!file.Skip(length)) return RASTER_ERR_READ;
      continue;
    }
    ByteReader frame{nullptr, nullptr};
    file.Sub(length < file.Left() ? length : file.Left(), &frame);
    code = ReadFLICDataChunks(sub_chunks, frame, length, image, &pixels_read, &palette_read);
    if (code != RASTER_OK) return code;
  }
  return RASTER_OK;
}

// Hands the file to the CEL or the FLIC reader by its magic.
RasterError DecodeCel(ByteReader in, RasterImage *image) {
  uint16_t magic;
  if (!in.LE16(&magic)) return RASTER_ERR_READ;
  if (magic != kCelMagic) {
    if (!in.Seek(4) || !in.LE16(&magic)) return RASTER_ERR_READ;
    if (magic != kFliMagic && magic != kFlcMagic) return RASTER_ERR_UNSUPPORTED_OPTION;
  }
  in.Seek(0);
  return magic == kCelMagic ? ReadSimpleCEL(in, image) : ReadFLIC(in, image);
}

}  // namespace

RasterError ReadCEL(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodeCel);
}

RasterError ReadCELMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodeCel);
}

}  // namespace tsl
