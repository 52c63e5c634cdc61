// IFF ILBM pictures of 8 bit planes with a colour map, ByteRun1-compressed:
// a FORM of chunks, each padded to an even length. Every row holds one row
// of each plane in turn (and of the mask plane, which is skipped), the top
// row first; bit p of a pixel's palette index comes from plane p.
#include "image/iff.h"

#include <cstring>
#include <vector>

#include "image/raster_io.h"

namespace tsl {

namespace {

constexpr size_t kHeaderSize = 20;
constexpr unsigned kPlanes = 8;
constexpr uint8_t kByteRun1 = 1;
constexpr uint8_t kMaskPlane = 1;         // masking: a mask plane follows the planes
constexpr uint8_t kTransparentColour = 2;  // masking: one palette index is transparent
constexpr uint32_t kHam = 0x800;           // CAMG: hold-and-modify display mode
constexpr size_t kMaxColours = 256;
constexpr size_t kLongestRepeat = 128;

bool IdIs(const uint8_t *id, const char *name) { return std::memcmp(id, name, 4) == 0; }

struct BitmapHeader {
  uint16_t width, height, transparent;
  uint8_t planes, masking, compression;
};

// Plane byte v as eight bytes of 0 or 1, the leftmost pixel in the lowest.
struct BitSpread {
  uint64_t of[256];
  constexpr BitSpread() : of() {
    for (unsigned v = 0; v < 256; ++v)
      for (unsigned k = 0; k < 8; ++k)
        if ((v >> (7 - k)) & 1) of[v] |= uint64_t{1} << (8 * k);
  }
};
constexpr BitSpread kSpread;

// Bytes of one plane of a row: whole 16-bit words.
size_t PlaneBytes(const BitmapHeader &bmhd) { return (size_t{bmhd.width} + 15) / 16 * 2; }
size_t RowBytes(const BitmapHeader &bmhd) {
  return PlaneBytes(bmhd) * (kPlanes + (bmhd.masking == kMaskPlane ? 1 : 0));
}

// Decodes a ByteRun1 `body` into the record: each row's planes are
// gathered into one palette index per pixel.
RasterError ReadCompressedIFFData(RasterImage *image, ByteReader body, const BitmapHeader &bmhd) {
  const size_t plane_bytes = PlaneBytes(bmhd), row_bytes = RowBytes(bmhd);
  std::vector<uint8_t> row(row_bytes);
  for (uint32_t r = 0; r < image->height; ++r) {
    RasterError code = UnpackBits(&body, row.data(), row_bytes, false);
    if (code != RASTER_OK) return code;
    uint8_t *dst = RasterRow(*image, RecordRow(image->height, r, true));
    for (uint32_t x = 0; x < image->width; x += 8) {
      uint64_t indices = 0;
      for (unsigned p = 0; p < kPlanes; ++p)
        indices |= kSpread.of[row[p * plane_bytes + x / 8]] << p;
      const uint32_t n = image->width - x < 8 ? image->width - x : 8;
      for (uint32_t k = 0; k < n; ++k) dst[x + k] = static_cast<uint8_t>(indices >> (8 * k));
    }
  }
  // The BODY's length must be exactly what its rows took.
  return body.Left() == 0 ? RASTER_OK : RASTER_ERR_CORRUPT_FILE;
}

// Bodies in any coding but ByteRun1 are not read.
RasterError ReadUncompressedIFFData(RasterImage *, ByteReader, const BitmapHeader &) {
  return RASTER_ERR_UNSUPPORTED_OPTION;
}

RasterError DecodeIff(ByteReader in, RasterImage *image) {
  const uint8_t *id;
  uint32_t form_length;
  if (!in.Take(4, &id)) return RASTER_ERR_READ;
  if (!IdIs(id, "FORM")) return RASTER_ERR_CORRUPT_FILE;
  if (!in.BE32(&form_length) || !in.Take(4, &id)) return RASTER_ERR_READ;
  if (!IdIs(id, "ILBM") || form_length < 4) return RASTER_ERR_CORRUPT_FILE;
  ByteReader form{nullptr, nullptr};
  if (!in.Sub(form_length - 4, &form)) return RASTER_ERR_READ;

  BitmapHeader bmhd{};
  bool have_header = false, ham = false, have_body = false;
  const uint8_t *colours = nullptr;
  size_t colour_count = 0;
  while (form.Left() != 0) {
    uint32_t length;
    ByteReader chunk{nullptr, nullptr};
    if (!form.Take(4, &id) || !form.BE32(&length) || !form.Sub(length, &chunk))
      return RASTER_ERR_READ;
    if (length & 1) form.Skip(1);  // the pad byte, which may be missing at the form's end
    if (IdIs(id, "BMHD")) {
      const uint8_t *h;
      if (!chunk.Take(kHeaderSize, &h)) return RASTER_ERR_CORRUPT_FILE;
      bmhd = BitmapHeader{static_cast<uint16_t>(h[0] << 8 | h[1]),
                          static_cast<uint16_t>(h[2] << 8 | h[3]),
                          static_cast<uint16_t>(h[12] << 8 | h[13]), h[8], h[9], h[10]};
      if (bmhd.planes != kPlanes || bmhd.compression == 0) return RASTER_ERR_UNSUPPORTED_OPTION;
      have_header = true;
    } else if (IdIs(id, "CMAP")) {
      // Entries past 256 cannot be indexed, nor can a partial triple.
      colour_count = length / 3 < kMaxColours ? length / 3 : kMaxColours;
      chunk.Take(3 * colour_count, &colours);
    } else if (IdIs(id, "CAMG")) {
      uint32_t mode = 0;
      if (chunk.BE32(&mode) && (mode & kHam)) ham = true;
    } else if (IdIs(id, "BODY")) {
      // Without a header and a colour map the body cannot be read.
      if (!have_header || !colours) return RASTER_ERR_CORRUPT_FILE;
      if (ham) return RASTER_ERR_UNSUPPORTED_OPTION;
      if (bmhd.compression != kByteRun1) return ReadUncompressedIFFData(image, chunk, bmhd);
      // Rows the body could not fill are refused before the record is
      // allocated: two bytes decode to at most 128.
      if (bmhd.width == 0 || bmhd.height == 0) return RASTER_ERR_INVALID_SIZE;
      const size_t least = (RowBytes(bmhd) + kLongestRepeat - 1) / kLongestRepeat * 2;
      if (chunk.Left() / least < bmhd.height) return RASTER_ERR_CORRUPT_FILE;
      RasterError code = AllocateForRead(image, bmhd.width, bmhd.height, 8,
                                         static_cast<uint16_t>(colour_count), 0);
      if (code != RASTER_OK) return code;
      for (unsigned i = 0; i < colour_count; ++i)
        SetPaletteEntry(image, i, colours[3 * i], colours[3 * i + 1], colours[3 * i + 2]);
      if (bmhd.masking == kTransparentColour && bmhd.transparent < kMaxColours)
        image->transparency_index = static_cast<int16_t>(bmhd.transparent);
      code = ReadCompressedIFFData(image, chunk, bmhd);
      if (code != RASTER_OK) return code;
      have_body = true;
    } else if (!IdIs(id, "CRNG")) {
      return RASTER_ERR_CORRUPT_FILE;
    }
  }
  return have_body ? RASTER_OK : RASTER_ERR_CORRUPT_FILE;
}

}  // namespace

RasterError ReadIFF(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodeIff);
}

RasterError ReadIFFMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodeIff);
}

}  // namespace tsl
