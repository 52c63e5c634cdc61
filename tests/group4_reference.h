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

inline tmsize_t MemRead(thandle_t h, void *buf, tmsize_t n) {
  MemFile *m = static_cast<MemFile *>(h);
  if (m->pos >= m->data.size()) return 0;
  uint64_t left = m->data.size() - m->pos;
  if (static_cast<uint64_t>(n) > left) n = static_cast<tmsize_t>(left);
  std::memcpy(buf, m->data.data() + m->pos, static_cast<size_t>(n));
  m->pos += static_cast<uint64_t>(n);
  return n;
}
inline tmsize_t MemWrite(thandle_t h, void *buf, tmsize_t n) {
  MemFile *m = static_cast<MemFile *>(h);
  if (m->pos + n > m->data.size()) m->data.resize(m->pos + n);
  std::memcpy(m->data.data() + m->pos, buf, static_cast<size_t>(n));
  m->pos += static_cast<uint64_t>(n);
  return n;
}
inline toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  MemFile *m = static_cast<MemFile *>(h);
  if (whence == SEEK_CUR) off += m->pos;
  if (whence == SEEK_END) off += m->data.size();
  m->pos = off;
  return off;
}
inline int MemClose(thandle_t) { return 0; }
inline toff_t MemSize(thandle_t h) { return static_cast<MemFile *>(h)->data.size(); }
inline int MemMap(thandle_t, void **, toff_t *) { return 0; }
inline void MemUnmap(thandle_t, void *, toff_t) {}

inline TIFF *Open(MemFile *m, const char *mode) {
  m->pos = 0;
  return TIFFClientOpen("memory", mode, m, MemRead, MemWrite, MemSeek, MemClose, MemSize,
                        MemMap, MemUnmap);
}

// Counts libtiff's warnings and errors instead of printing them.
inline int &Complaints() {
  static int n = 0;
  return n;
}
inline void Complain(const char *, const char *, va_list) { ++Complaints(); }
inline void Quiet() {
  TIFFSetWarningHandler(Complain);
  TIFFSetErrorHandler(Complain);
}

inline void SetFields(TIFF *t, int width, int height) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
}

// A TIFF whose one strip libtiff codes from the packed rows.
inline bool EncodeTiff(const Bytes &packed, int width, int height, MemFile *file) {
  file->data.clear();
  TIFF *t = Open(file, "w");
  if (!t) return false;
  SetFields(t, width, height);
  Bytes copy(packed);  // libtiff may code in place
  bool ok = TIFFWriteEncodedStrip(t, 0, copy.data(), static_cast<tmsize_t>(copy.size())) >= 0;
  TIFFClose(t);
  return ok;
}

// The raw (coded) strip of a one-strip TIFF.
inline Bytes RawStrip(MemFile *file) {
  Bytes raw;
  TIFF *t = Open(file, "rm");
  if (!t) return raw;
  uint64_t *counts = nullptr;
  if (TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts) && counts) {
    raw.resize(static_cast<size_t>(counts[0]));
    if (TIFFReadRawStrip(t, 0, raw.data(), static_cast<tmsize_t>(raw.size())) < 0) raw.clear();
  }
  TIFFClose(t);
  return raw;
}

// libtiff's Group 4 stream for the packed rows.
inline Bytes Encode(const Bytes &packed, int width, int height) {
  MemFile file;
  if (!EncodeTiff(packed, width, height, &file)) return Bytes();
  return RawStrip(&file);
}

// A TIFF holding a given Group 4 stream as its strip.
inline bool WrapStream(const Bytes &stream, int width, int height, MemFile *file) {
  file->data.clear();
  TIFF *t = Open(file, "w");
  if (!t) return false;
  SetFields(t, width, height);
  Bytes copy(stream);
  bool ok = TIFFWriteRawStrip(t, 0, copy.data(), static_cast<tmsize_t>(copy.size())) >= 0;
  TIFFClose(t);
  return ok;
}

// Decodes the strip of a one-strip TIFF into packed rows; empty on failure.
inline Bytes DecodeTiff(MemFile *file, int width, int height) {
  Bytes rows(static_cast<size_t>((width + 7) / 8) * static_cast<size_t>(height));
  TIFF *t = Open(file, "rm");
  if (!t) return Bytes();
  tmsize_t n = TIFFReadEncodedStrip(t, 0, rows.data(), static_cast<tmsize_t>(rows.size()));
  TIFFClose(t);
  if (n != static_cast<tmsize_t>(rows.size())) return Bytes();
  return rows;
}

// libtiff's decoding of a Group 4 stream into packed rows.
inline Bytes Decode(const Bytes &stream, int width, int height) {
  MemFile file;
  if (!WrapStream(stream, width, height, &file)) return Bytes();
  return DecodeTiff(&file, width, height);
}

}  // namespace g4ref

#endif
