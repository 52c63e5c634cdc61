// libtiff's Group 4 fax codec as a reference for our own: one strip of packed
// rows (bit 1 black) in a TIFF held in memory. Header-only for the benchmark.
#ifndef TESSALY_TESTS_GROUP4_REFERENCE_H
#define TESSALY_TESTS_GROUP4_REFERENCE_H

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace g4ref {

using Bytes = std::vector<uint8_t>;

struct MemFile {
  Bytes data;
  uint64_t pos = 0;
  // Copies n bytes between buf and the file at pos; reads stop at the end.
  tmsize_t Transfer(void *buf, tmsize_t n, bool write) {
    if (write && pos + n > data.size()) data.resize(pos + n);
    if (!write) n = pos < data.size() ? std::min<tmsize_t>(n, data.size() - pos) : 0;
    if (n) std::memmove(write ? data.data() + pos : buf, write ? buf : data.data() + pos, n);
    pos += static_cast<uint64_t>(n);
    return n;
  }
};

inline TIFF *Open(MemFile *m, const char *mode) {
  auto seek = [](thandle_t h, toff_t off, int whence) -> toff_t {
    MemFile *f = static_cast<MemFile *>(h);
    return f->pos = off + (whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->data.size() : 0);
  };
  m->pos = 0;
  return TIFFClientOpen(
      "memory", mode, m,
      [](thandle_t h, void *b, tmsize_t n) { return static_cast<MemFile *>(h)->Transfer(b, n, 0); },
      [](thandle_t h, void *b, tmsize_t n) { return static_cast<MemFile *>(h)->Transfer(b, n, 1); },
      seek, [](thandle_t) { return 0; },
      [](thandle_t h) -> toff_t { return static_cast<MemFile *>(h)->data.size(); },
      [](thandle_t, void **, toff_t *) { return 0; }, [](thandle_t, void *, toff_t) {});
}

// Silences libtiff's warnings and errors.
inline void Quiet() { TIFFSetWarningHandler(nullptr), TIFFSetErrorHandler(nullptr); }

inline void SetFields(TIFF *t, int width, int height) {
  const int fields[][2] = {{TIFFTAG_IMAGEWIDTH, width}, {TIFFTAG_IMAGELENGTH, height},
      {TIFFTAG_ROWSPERSTRIP, height}, {TIFFTAG_BITSPERSAMPLE, 1}, {TIFFTAG_SAMPLESPERPIXEL, 1},
      {TIFFTAG_FILLORDER, FILLORDER_MSB2LSB}, {TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG},
      {TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4}, {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE}};
  for (const auto &f : fields) TIFFSetField(t, static_cast<uint32_t>(f[0]), f[1]);
}

// A one-strip TIFF holding a Group 4 stream as it is, or (raw false) packed
// rows for libtiff to code.
inline bool WrapStream(const Bytes &data, int width, int height, MemFile *file, bool raw = true) {
  file->data.clear();
  TIFF *t = Open(file, "w");
  if (!t) return false;
  SetFields(t, width, height);
  Bytes copy(data);  // libtiff may code in place
  bool ok = (raw ? TIFFWriteRawStrip : TIFFWriteEncodedStrip)(
                t, 0, copy.data(), static_cast<tmsize_t>(copy.size())) >= 0;
  TIFFClose(t);
  return ok;
}

// libtiff's Group 4 stream for the packed rows; empty on failure.
inline Bytes Encode(const Bytes &rows, int width, int height) {
  MemFile file;
  TIFF *t = WrapStream(rows, width, height, &file, false) ? Open(&file, "rm") : nullptr;
  if (!t) return Bytes();
  Bytes out(file.data.size());  // the strip is never larger than the file holding it
  tmsize_t n = TIFFReadRawStrip(t, 0, out.data(), static_cast<tmsize_t>(out.size()));
  TIFFClose(t);
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

}  // namespace g4ref

#endif
