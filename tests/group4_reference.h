// libtiff's Group 4 fax codec as a reference for our own, in memory: one
// strip of packed rows (ceil(width / 8) bytes each, bit 1 black) in a TIFF
// held in a byte vector. Header-only so the benchmark can use it too.
#ifndef TESSALY_TESTS_GROUP4_REFERENCE_H
#define TESSALY_TESTS_GROUP4_REFERENCE_H

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
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

// Counts libtiff's warnings and errors instead of printing them.
inline int &Complaints() {
  static int n = 0;
  return n;
}
inline void Quiet() {
  auto complain = [](const char *, const char *, va_list) { ++Complaints(); };
  TIFFSetWarningHandler(complain);
  TIFFSetErrorHandler(complain);
}

inline void SetFields(TIFF *t, int width, int height) {
  const int fields[][2] = {
      {TIFFTAG_IMAGEWIDTH, width},      {TIFFTAG_IMAGELENGTH, height},
      {TIFFTAG_ROWSPERSTRIP, height},   {TIFFTAG_BITSPERSAMPLE, 1},
      {TIFFTAG_SAMPLESPERPIXEL, 1},     {TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG},
      {TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4}, {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE},
      {TIFFTAG_FILLORDER, FILLORDER_MSB2LSB}};
  for (const auto &f : fields) TIFFSetField(t, static_cast<uint32_t>(f[0]), f[1]);
}

// A one-strip TIFF holding the data: packed rows libtiff codes, or (raw) a
// Group 4 stream taken as it is.
inline bool WriteStrip(const Bytes &data, int width, int height, bool raw, MemFile *file) {
  file->data.clear();
  TIFF *t = Open(file, "w");
  if (!t) return false;
  SetFields(t, width, height);
  Bytes copy(data);  // libtiff may code in place
  tmsize_t n = static_cast<tmsize_t>(copy.size());
  bool ok = (raw ? TIFFWriteRawStrip(t, 0, copy.data(), n)
                 : TIFFWriteEncodedStrip(t, 0, copy.data(), n)) >= 0;
  TIFFClose(t);
  return ok;
}
inline bool WrapStream(const Bytes &stream, int width, int height, MemFile *file) {
  return WriteStrip(stream, width, height, true, file);
}

// libtiff's Group 4 stream for the packed rows (empty on failure).
inline Bytes Encode(const Bytes &packed, int width, int height) {
  MemFile file;
  Bytes raw;
  TIFF *t = WriteStrip(packed, width, height, false, &file) ? Open(&file, "rm") : nullptr;
  uint64_t *counts = nullptr;
  if (t && TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts) && counts) {
    raw.resize(static_cast<size_t>(counts[0]));
    if (TIFFReadRawStrip(t, 0, raw.data(), static_cast<tmsize_t>(raw.size())) < 0) raw.clear();
  }
  if (t) TIFFClose(t);
  return raw;
}

// libtiff's decoding of a Group 4 stream into packed rows; empty on failure.
inline Bytes Decode(const Bytes &stream, int width, int height) {
  MemFile file;
  Bytes rows(static_cast<size_t>((width + 7) / 8) * static_cast<size_t>(height));
  TIFF *t = WrapStream(stream, width, height, &file) ? Open(&file, "rm") : nullptr;
  if (!t) return Bytes();
  tmsize_t n = TIFFReadEncodedStrip(t, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
  TIFFClose(t);
  return n == static_cast<tmsize_t>(rows.size()) ? rows : Bytes();
}

}  // namespace g4ref

#endif
