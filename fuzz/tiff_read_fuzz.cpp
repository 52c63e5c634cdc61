// Feeds arbitrary bytes to the TIFF reader, with and without options.
#include <tiffio.h>

#include <algorithm>
#include <cstring>

#include "image/tiff.h"
#include "raster_fuzz.h"

namespace {

// The fax codes give a row per bit whatever its width, so a few bytes can
// describe a picture of hundreds of megabytes; pictures above 16 M
// samples are skipped to keep each run quick. libtiff itself tells the
// size, as the reader will see it.
struct Peek {
  const uint8_t *data;
  size_t size, pos;
};
tmsize_t PeekRead(thandle_t h, void *buf, tmsize_t n) {
  Peek &p = *static_cast<Peek *>(h);
  const size_t count = std::min(static_cast<size_t>(n), p.size - p.pos);
  std::memcpy(buf, p.data + p.pos, count);
  p.pos += count;
  return static_cast<tmsize_t>(count);
}
tmsize_t PeekWrite(thandle_t, void *, tmsize_t) { return -1; }
toff_t PeekSeek(thandle_t h, toff_t off, int whence) {
  Peek &p = *static_cast<Peek *>(h);
  const toff_t to = (whence == SEEK_CUR ? p.pos : whence == SEEK_END ? p.size : 0) + off;
  if (to > p.size) return ~toff_t{0};
  p.pos = static_cast<size_t>(to);
  return to;
}
int PeekClose(thandle_t) { return 0; }
toff_t PeekSize(thandle_t h) { return static_cast<Peek *>(h)->size; }

bool Huge(const uint8_t *data, size_t size) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  Peek peek{data, size, 0};
  TIFF *tif = TIFFClientOpen("peek", "rm", &peek, PeekRead, PeekWrite, PeekSeek, PeekClose,
                             PeekSize, nullptr, nullptr);
  if (!tif) return false;
  uint32_t width = 0, height = 0;
  uint16_t samples = 1;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFClose(tif);
  return uint64_t{width} * height * samples > (uint64_t{1} << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (Huge(data, size)) return 0;
  return FuzzRasterReader(data, size, [](const uint8_t *d, size_t n, tsl::RasterImage *image) {
    tsl::TIFFOptions options{0, 0, 0, 0};
    return tsl::ReadTIFFMemory(d, n, image, n & 2 ? &options : nullptr);
  });
}
