// Whole-file input and output and the single exits of the raster readers and
// writers.
#include "image/raster_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/output_file.h"

namespace tsl {

namespace {

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

// Reads the whole file; a file beyond the layer's size limit cannot hold a
// picture the record takes.
RasterError LoadFile(const char *filename, EncodedFile *out) {
  if (!filename) return RASTER_ERR_OPEN_FILE;
  FileHandle f(std::fopen(filename, "rb"));
  if (!f) return RASTER_ERR_OPEN_FILE;
  if (std::fseek(f.get(), 0, SEEK_END) != 0) return RASTER_ERR_READ;
  long end = std::ftell(f.get());
  if (end < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) return RASTER_ERR_READ;
  if (static_cast<unsigned long>(end) > kMaxRasterBytes) return RASTER_ERR_INVALID_SIZE;
  const size_t size = static_cast<size_t>(end);
  out->data.reset(static_cast<uint8_t *>(std::malloc(size ? size : 1)));
  if (!out->data) return RASTER_ERR_MEMORY;
  if (std::fread(out->data.get(), 1, size, f.get()) != size) return RASTER_ERR_READ;
  out->size = size;
  return RASTER_OK;
}

RasterError StoreFile(const char *filename, const EncodedFile &file) {
  if (!filename) return RASTER_ERR_OPEN_FILE;
  OutputFile out(filename);
  if (!out.stream()) return RASTER_ERR_OPEN_FILE;
  if (std::fwrite(file.data.get(), 1, file.size, out.stream()) != file.size)
    return RASTER_ERR_WRITE;
  // Buffered bytes reach the disk at close, so a failing close is a failed
  // write too.
  return out.Close() ? RASTER_OK : RASTER_ERR_WRITE;
}

RasterError FinishRead(RasterImage *image, RasterError code) {
  if (code != RASTER_OK && image) FreeRasterImage(image);
  SetLastRasterError(code);
  return code;
}

}  // namespace

RasterError StartEncodedFile(size_t size, EncodedFile *file) {
  file->data.reset(static_cast<uint8_t *>(SafeCalloc(size, 1)));
  if (!file->data) return RASTER_ERR_MEMORY;
  file->size = size;
  file->writer = ByteWriter{file->data.get(), file->data.get() + size};
  return RASTER_OK;
}

RasterError UnpackBits(ByteReader *in, uint8_t *out, size_t n, bool whole) {
  size_t x = 0;
  while (x < n || (whole && in->Left() != 0)) {
    uint8_t control = 0, value = 0;
    if (!in->U8(&control)) return RASTER_ERR_CORRUPT_FILE;
    if (control < 128) {
      const uint8_t *literal;
      const size_t count = control + 1u;
      if (count > n - x || !in->Take(count, &literal)) return RASTER_ERR_CORRUPT_FILE;
      std::memcpy(out + x, literal, count);
      x += count;
    } else if (control > 128) {
      if (!in->U8(&value)) return RASTER_ERR_CORRUPT_FILE;
      const size_t count = 257u - control;
      const size_t kept = count < n - x ? count : n - x;
      std::memset(out + x, value, kept);
      x += kept;
    }
  }
  return RASTER_OK;
}

RasterError ReadRasterFile(const char *filename, RasterImage *image, RasterDecoder decode) {
  SetLastRasterError(RASTER_OK);
  if (!image) return FinishRead(image, RASTER_ERR_INVALID_IMAGE);
  EncodedFile file;
  RasterError code = LoadFile(filename, &file);
  if (code == RASTER_OK) {
    ByteReader in{file.data.get(), file.data.get() + file.size, file.data.get()};
    // Decoders keep work rows in standard containers: short of memory for
    // them, a read fails as when the record's rows cannot be had.
    code = CatchShortMemory(RASTER_ERR_MEMORY, nullptr, [&] { return decode(in, image); });
  }
  return FinishRead(image, code);
}

RasterError ReadRasterMemory(const uint8_t *data, size_t size, RasterImage *image,
                             RasterDecoder decode) {
  SetLastRasterError(RASTER_OK);
  if (!image) return FinishRead(image, RASTER_ERR_INVALID_IMAGE);
  if (!data) size = 0;
  ByteReader in{data, data + size, data};
  return FinishRead(image,
                    CatchShortMemory(RASTER_ERR_MEMORY, nullptr, [&] { return decode(in, image); }));
}

RasterError WriteRasterFile(const char *filename, const RasterImage &image, RasterEncoder encode) {
  SetLastRasterError(RASTER_OK);
  RasterError code = CheckRasterImage(image);
  EncodedFile file;
  if (code == RASTER_OK)
    code = CatchShortMemory(RASTER_ERR_MEMORY, nullptr,
                            [&] { return encode(image, filename, &file); });
  const ByteWriter &w = file.writer;
  if (code == RASTER_OK && w.end && (w.overflowed || w.pos != w.end)) code = RASTER_ERR_WRITE;
  if (code == RASTER_OK) code = StoreFile(filename, file);
  SetLastRasterError(code);
  return code;
}

RasterError ReserveEncoded(EncodedFile *file, size_t need) {
  if (need > kMaxRasterBytes) return RASTER_ERR_INVALID_SIZE;
  if (need <= file->capacity) return RASTER_OK;
  size_t grown = file->capacity < 4096 ? 4096 : file->capacity;
  while (grown < need) grown *= 2;
  if (grown > kMaxRasterBytes) grown = kMaxRasterBytes;
  void *block = std::realloc(file->data.get(), grown);
  if (!block) return RASTER_ERR_MEMORY;
  file->data.release();
  file->data.reset(static_cast<uint8_t *>(block));
  file->capacity = grown;
  return RASTER_OK;
}

RasterError AppendEncoded(EncodedFile *file, const void *data, size_t n) {
  size_t need;
  if (!CheckedAdd(file->size, n, &need)) return RASTER_ERR_INVALID_SIZE;
  RasterError code = ReserveEncoded(file, need);
  if (code != RASTER_OK) return code;
  if (n) std::memcpy(file->data.get() + file->size, data, n);
  file->size = need;
  return RASTER_OK;
}

RasterError WithoutWords555(const RasterImage &image, OwnedRecord *copy,
                            const RasterImage **view) {
  *view = &image;
  if (image.bits_per_pixel != 16) return RASTER_OK;
  RasterError code = CopyRasterImage(image, &copy->image);
  if (code == RASTER_OK) code = Convert16to24(&copy->image);
  if (code == RASTER_OK) *view = &copy->image;
  return code;
}

RasterError AllocateForRead(RasterImage *image, uint32_t width, uint32_t height, unsigned bpp,
                            uint16_t palette_size, uint8_t bytes_per_entry) {
  if (!IsRasterDepth(bpp)) return RASTER_ERR_INVALID_BPP;
  image->width = width;
  image->height = height;
  image->bits_per_pixel = static_cast<uint8_t>(bpp);
  image->palette_size = palette_size;
  image->bytes_per_palette_entry = bytes_per_entry;
  image->transparency_index = -1;
  return AllocateRasterImage(image);
}

}  // namespace tsl
