// libtiff's Group 4 fax codec as a reference for our own, in memory: one
// strip of packed rows (ceil(width / 8) bytes each, bit 1 black) in a TIFF
// held in a byte vector. Header-only so the benchmark can use it too.
#ifndef TESSALY_TESTS_GROUP4_REFERENCE_H
#define TESSALY_TESTS_GROUP4_REFERENCE_H

#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <vector>

namespace g4ref {

using Bytes = std::vector<uint8_t>;

struct MemFile {
  Bytes data;
  uint64_t pos = 0;
};

inline TIFF *Open(MemFile *m, const char *mode) {
  auto read = [](thandle_t h, void *buf, tmsize_t n) -> tmsize_t {
    MemFile *f = static_cast<MemFile *>(h);
    uint64_t left = f->pos < f->data.size() ? f->data.size() - f->pos : 0;
    if (static_cast<uint64_t>(n) > left) n = static_cast<tmsize_t>(left);
    if (n) std::memcpy(buf, f->data.data() + f->pos, static_cast<size_t>(n));
    f->pos += static_cast<uint64_t>(n);
    return n;
  };
  auto write = [](thandle_t h, void *buf, tmsize_t n) -> tmsize_t {
    MemFile *f = static_cast<MemFile *>(h);
    if (f->pos + n > f->data.size()) f->data.resize(f->pos + n);
    std::memcpy(f->data.data() + f->pos, buf, static_cast<size_t>(n));
    f->pos += static_cast<uint64_t>(n);
    return n;
  };
  auto seek = [](thandle_t h, toff_t off, int whence) -> toff_t {
    MemFile *f = static_cast<MemFile *>(h);
    return f->pos = off + (whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->data.size() : 0);
  };
  auto size = [](thandle_t h) -> toff_t { return static_cast<MemFile *>(h)->data.size(); };
  m->pos = 0;
  return TIFFClientOpen(
      "memory", mode, m, read, write, seek, [](thandle_t) { return 0; }, size,
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
