// ZSoft PCX files: a 128-byte header, run-length encoded rows top row
// first, and the palette in the header or, for 256 colours, at the end of
// the file. Each row holds every plane in turn, `bytes per line` apiece.
#include "image/pcx.h"

#include <cstring>
#include <vector>

#include "image/raster_io.h"

namespace tsl {

namespace {

constexpr size_t kHeaderSize = 128;
constexpr size_t kEndPaletteSize = 769;  // marker byte and 256 triples
constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kEndPaletteMarker = 12;
constexpr uint8_t kEndPaletteVersion = 5;
constexpr uint8_t kRunLengthEncoding = 1;
constexpr size_t kHeaderMap = 16;  // 16 triples
constexpr unsigned kLongestRun = 63;

uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// How the planes of a row make a record row.
enum class Layout {
  kAsStored,    // one plane: the decoded bytes are the record row
  kBitPlanes,   // 2 to 4 planes of 1 bit: bit p of a 4-bit index in plane p
  kColourPlanes  // 3 planes of 8 bits: red, green, blue
};

// Decodes one row of `line.size()` bytes. Runs are not carried across rows:
// the part of a run beyond the row is dropped.
RasterError DecodeLine(ByteReader *in, std::vector<uint8_t> &line) {
  size_t count = 0;
  while (count < line.size()) {
    uint8_t c = 0, value = 0;
    if (!in->U8(&c)) return RASTER_ERR_READ;
    size_t n = 1;
    if ((c & 0xC0) == 0xC0) {
      n = c & 0x3F;
      if (!in->U8(&value)) return RASTER_ERR_READ;
    } else {
      value = c;
    }
    const size_t kept = n < line.size() - count ? n : line.size() - count;
    std::memset(line.data() + count, value, kept);
    count += kept;
  }
  return RASTER_OK;
}

// The first palette entries from `n` red, green, blue triples.
void TriplesToPalette(const uint8_t *triples, unsigned n, RasterImage *image) {
  for (unsigned i = 0; i < n; ++i)
    SetPaletteEntry(image, i, triples[3 * i], triples[3 * i + 1], triples[3 * i + 2]);
}

RasterError DecodePcx(ByteReader in, RasterImage *image) {
  const uint8_t *h;
  if (!in.Take(kHeaderSize, &h)) return RASTER_ERR_READ;
  if (h[0] != kManufacturer) return RASTER_ERR_UNSUPPORTED_OPTION;
  const unsigned version = h[1], encoding = h[2], bpp = h[3], planes = h[65];
  const int32_t width = int32_t{Le16(h + 8)} - Le16(h + 4) + 1;
  const int32_t height = int32_t{Le16(h + 10)} - Le16(h + 6) + 1;
  const size_t bytes_per_line = Le16(h + 66);
  const unsigned palette_info = Le16(h + 68);
  if (width <= 0 || height <= 0) return RASTER_ERR_INVALID_SIZE;

  Layout layout = Layout::kAsStored;
  unsigned depth = bpp;
  if (planes != 1) {
    if (bpp == 1 && planes >= 2 && planes <= 4) {
      layout = Layout::kBitPlanes, depth = 4;
    } else if (bpp == 8 && planes == 3) {
      layout = Layout::kColourPlanes, depth = 24;
    } else {
      return RASTER_ERR_UNSUPPORTED_OPTION;
    }
  }
  if (!IsRasterDepth(depth)) return RASTER_ERR_INVALID_BPP;
  if (encoding != kRunLengthEncoding) return RASTER_ERR_UNSUPPORTED_OPTION;
  uint32_t plane_bytes;  // what one plane of a row must hold
  if (!RasterRowBytes(static_cast<uint32_t>(width), bpp, false, &plane_bytes))
    return RASTER_ERR_INVALID_SIZE;
  if (bytes_per_line < plane_bytes) return RASTER_ERR_CORRUPT_FILE;

  // The 256-colour palette closes the file; the rows lie between.
  const bool end_palette = planes == 1 && bpp == 8 && version == kEndPaletteVersion;
  const uint8_t *end_map = nullptr;
  ByteReader data = in;
  if (end_palette) {
    ByteReader file = in;  // at the first row
    const uint8_t *marker;
    if (in.Size() < kHeaderSize + kEndPaletteSize || !in.Seek(in.Size() - kEndPaletteSize) ||
        !in.Take(1, &marker) || !in.Take(kEndPaletteSize - 1, &end_map))
      return RASTER_ERR_READ;
    if (*marker != kEndPaletteMarker) return RASTER_ERR_UNSUPPORTED_OPTION;
    file.Sub(file.Size() - kHeaderSize - kEndPaletteSize, &data);  // fits: size checked
  }
  // No byte of the file decodes to more than 63 bytes: rows that could not
  // be filled are refused before the record is allocated.
  const size_t line_bytes = planes * bytes_per_line;
  const size_t least = (line_bytes + kLongestRun - 1) / kLongestRun;
  if (data.Left() / least < static_cast<uint32_t>(height)) return RASTER_ERR_READ;

  RasterError code = AllocateForRead(image, static_cast<uint32_t>(width),
                                     static_cast<uint32_t>(height), depth, 0, 0);
  if (code != RASTER_OK) return code;
  if (end_palette) {
    TriplesToPalette(end_map, 256, image);
  } else if (depth == 1 &&
             (palette_info == 0 || std::memcmp(h + kHeaderMap, h + kHeaderMap + 3, 3) == 0)) {
    // Without palette information, or with two equal colours (as some
    // writers leave the map), a 1-bit picture is black and white.
    SetPaletteEntry(image, 1, 255, 255, 255);
  } else if (depth < 8) {
    TriplesToPalette(h + kHeaderMap, 16, image);
  }

  std::vector<uint8_t> line(line_bytes);
  for (uint32_t r = 0; r < static_cast<uint32_t>(height); ++r) {
    code = DecodeLine(&data, line);
    if (code != RASTER_OK) return code;
    uint8_t *dst = RasterRow(*image, RecordRow(image->height, r, true));
    if (layout == Layout::kAsStored) {
      std::memcpy(dst, line.data(), bytes_per_line < image->scan_width ? bytes_per_line
                                                                          : image->scan_width);
    } else if (layout == Layout::kBitPlanes) {
      for (uint32_t x = 0; x < image->width; ++x) {
        unsigned index = 0;
        for (unsigned p = 0; p < planes; ++p)
          index |= ((line[p * bytes_per_line + x / 8] >> (7 - x % 8)) & 1u) << p;
        PutIndex(dst, x, 4, static_cast<uint8_t>(index));
      }
    } else {
      for (uint32_t x = 0; x < image->width; ++x)
        for (unsigned c = 0; c < 3; ++c)
          dst[size_t{3} * x + 2 - c] = line[c * bytes_per_line + x];
    }
  }
  return RASTER_OK;
}

}  // namespace

RasterError ReadPCX(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodePcx);
}

RasterError ReadPCXMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodePcx);
}

}  // namespace tsl
