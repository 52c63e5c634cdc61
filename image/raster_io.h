// Bounded byte access and whole-file input and output for the raster readers
// and writers that parse their format themselves (BMP, TGA, SGI, ...). A
// reader decodes from memory through a ByteReader, which knows where the
// data ends; a writer encodes into a buffer of the exact file size, and the
// file is created only once the whole encoding has succeeded, and removed
// again when it cannot be written whole.
#ifndef TESSALY_IMAGE_RASTER_IO_H
#define TESSALY_IMAGE_RASTER_IO_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "common/checked.h"
#include "image/raster_image.h"

namespace tsl {

inline uint32_t LoadLE32(const uint8_t *p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t LoadBE32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// A bounded cursor over bytes in memory. `start` is where offsets count
// from (the file's first byte, or a chunk's); the cursor never moves outside
// [start, end].
struct ByteReader {
  const uint8_t *pos;
  const uint8_t *end;
  const uint8_t *start = pos;

  size_t Left() const { return static_cast<size_t>(end - pos); }
  size_t Offset() const { return static_cast<size_t>(pos - start); }
  size_t Size() const { return static_cast<size_t>(end - start); }
  // Moves to `offset` from the start; false (cursor unchanged) past the end.
  bool Seek(size_t offset) {
    if (offset > Size()) return false;
    pos = start + offset;
    return true;
  }
  // A reader over the next n bytes, whose offsets count from their first
  // byte; this one moves past them. False (nothing consumed) when fewer are
  // left.
  bool Sub(size_t n, ByteReader *chunk) {
    const uint8_t *p;
    if (!Take(n, &p)) return false;
    *chunk = ByteReader{p, p + n, p};
    return true;
  }
  // Hands out the next n bytes; false (nothing consumed) when fewer are left.
  bool Take(size_t n, const uint8_t **out) {
    if (n > Left()) return false;
    *out = pos;
    pos += n;
    return true;
  }
  bool Skip(size_t n) {
    const uint8_t *unused;
    return Take(n, &unused);
  }
  bool U8(uint8_t *v) {
    if (pos == end) return false;
    *v = *pos++;
    return true;
  }
  bool LE16(uint16_t *v) {
    const uint8_t *p;
    if (!Take(2, &p)) return false;
    *v = static_cast<uint16_t>(p[0] | p[1] << 8);
    return true;
  }
  bool LE32(uint32_t *v) {
    const uint8_t *p;
    if (!Take(4, &p)) return false;
    *v = LoadLE32(p);
    return true;
  }
  bool BE16(uint16_t *v) {
    const uint8_t *p;
    if (!Take(2, &p)) return false;
    *v = static_cast<uint16_t>(p[0] << 8 | p[1]);
    return true;
  }
  bool BE32(uint32_t *v) {
    const uint8_t *p;
    if (!Take(4, &p)) return false;
    *v = LoadBE32(p);
    return true;
  }
};

// Appends to a buffer of fixed size. A write that does not fit writes
// nothing and marks the writer overflowed, which WriteRasterFile refuses:
// encoders size their buffer exactly, so a miscount fails loudly instead of
// storing a damaged file.
struct ByteWriter {
  uint8_t *pos;
  uint8_t *end;
  bool overflowed = false;

  size_t Left() const { return static_cast<size_t>(end - pos); }
  void Bytes(const void *data, size_t n) {
    if (n > Left()) {
      overflowed = true;
      return;
    }
    const uint8_t *s = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < n; ++i) pos[i] = s[i];
    pos += n;
  }
  void U8(uint8_t v) { Bytes(&v, 1); }
  void LE16(uint16_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Bytes(b, 2);
  }
  void LE32(uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                    static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    Bytes(b, 4);
  }
  void BE16(uint16_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    Bytes(b, 2);
  }
  void BE32(uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                    static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    Bytes(b, 4);
  }
  // Reserves n bytes (zero-filled by the buffer's allocation) for the caller
  // to fill in place; null when they do not fit.
  uint8_t *Reserve(size_t n) {
    if (n > Left()) {
      overflowed = true;
      return nullptr;
    }
    uint8_t *p = pos;
    pos += n;
    return p;
  }
};

using ByteBlock = std::unique_ptr<uint8_t, FreeDeleter>;

// An encoded file: `size` bytes at `data`. Encoders that fill a block of
// the exact size write through `writer`; WriteRasterFile refuses the file
// when that writer overflowed or left bytes unwritten. Encoders that grow
// their own buffer (library-backed formats) leave it unset and append with
// AppendEncoded.
struct EncodedFile {
  ByteBlock data;
  size_t size = 0;
  ByteWriter writer{nullptr, nullptr};
  size_t capacity = 0;  // bytes allocated at `data` by AppendEncoded
};

// A zero-filled block of `size` bytes with `file->writer` over it, or
// RASTER_ERR_MEMORY.
RasterError StartEncodedFile(size_t size, EncodedFile *file);

// Makes room for `need` bytes in all at `data`, growing the block
// geometrically; RASTER_ERR_INVALID_SIZE past the layer's size limit.
RasterError ReserveEncoded(EncodedFile *file, size_t need);
// Appends n bytes, growing the block; on failure (RASTER_ERR_MEMORY, or
// RASTER_ERR_INVALID_SIZE past the layer's size limit) the file keeps what
// it had.
RasterError AppendEncoded(EncodedFile *file, const void *data, size_t n);

// A record a writer owns for the length of one call; released with it.
struct OwnedRecord {
  RasterImage image;
  OwnedRecord() { InitRasterImage(&image); }
  ~OwnedRecord() { FreeRasterImage(&image); }
  OwnedRecord(const OwnedRecord &) = delete;
  OwnedRecord &operator=(const OwnedRecord &) = delete;
};

// For writers that store no 5-5-5 pixels: *view is `image` itself, or for a
// 16-bit record a 24-bit copy held in `copy`, so the caller's record is
// never changed.
RasterError WithoutWords555(const RasterImage &image, OwnedRecord *copy,
                            const RasterImage **view);

// Record row of file row `file_row` (0 = first stored) of a picture of
// `height` rows: records hold the bottom row first, so a file stored top
// row first has its rows reversed.
inline uint32_t RecordRow(uint32_t height, uint32_t file_row, bool top_first) {
  return top_first ? height - 1 - file_row : file_row;
}

// Whether a picture of width x height pixels is within what `file_size`
// bytes could describe at the densest coding any reader meets (LZW: a 3-bit
// code standing for 4096 pixels). Readers whose pictures can hold pixels
// that no byte of the file describes (a GIF screen's background, an
// animation's black frame) refuse larger ones, so a few bytes cannot demand
// an absurd picture.
inline bool PictureFitsFile(uint64_t width, uint64_t height, size_t file_size) {
  constexpr uint64_t kMaxPixelsPerByte = 4096 * 8 / 3 + 1;
  return width * height / kMaxPixelsPerByte <= file_size;
}

// Decodes `n` bytes of PackBits (ByteRun1) data into `out`: a control
// byte c below 128 copies the next c + 1 bytes, 128 does nothing, and one
// above repeats the next byte 257 - c times, cut at `n`. A copy that passes
// `n`, or data that ends first, is RASTER_ERR_CORRUPT_FILE: callers bound
// `in` by the encoded length the file declares. With `whole`, `in` holds
// exactly one row and what follows its n bytes is read too (writers end
// rows with no-ops).
RasterError UnpackBits(ByteReader *in, uint8_t *out, size_t n, bool whole);

// Decodes a whole file held in memory into `image`, which it allocates with
// AllocateRasterImage. A function or a lambda carrying a format's options.
using RasterDecoder = std::function<RasterError(ByteReader in, RasterImage *image)>;
// Encodes `image` (already checked by CheckRasterImage) as a whole file;
// `filename` is the name it will be stored under.
using RasterEncoder =
    std::function<RasterError(const RasterImage &image, const char *filename, EncodedFile *out)>;

// The readers' single exit: stores 0 at entry; on failure empties the
// record, and always stores the code as the last error and returns it.
RasterError ReadRasterFile(const char *filename, RasterImage *image, RasterDecoder decode);
RasterError ReadRasterMemory(const uint8_t *data, size_t size, RasterImage *image,
                             RasterDecoder decode);
// The writers' single exit: checks the record, encodes it, and only then
// creates the file and writes it whole; a failed write removes the file
// when it created it, and leaves one that stood under the name as written.
RasterError WriteRasterFile(const char *filename, const RasterImage &image, RasterEncoder encode);

// Sets a reader's record fields and allocates it; transparency is none.
// `bytes_per_entry` 0 lets AllocateRasterImage choose from bmp_layout.
RasterError AllocateForRead(RasterImage *image, uint32_t width, uint32_t height, unsigned bpp,
                            uint16_t palette_size, uint8_t bytes_per_entry);

}  // namespace tsl

#endif
