// TIFF files through libtiff. Both directions run in memory: the reader
// hands libtiff a bounded view of the file's bytes, the writer a growable
// sink whose contents become a file only through the layer's writing exit,
// once libtiff has encoded everything. Each handle gets its own silent
// error and warning handlers: the layer reports through its codes, and the
// host application's process-wide libtiff handlers stay as they were.
#include "image/tiff.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "image/raster_io.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define TSL_TIFF_SSSE3 1
#endif

namespace tsl {

namespace {

// Compression tag value of each TIFFCompressionCode, in code order.
constexpr uint16_t kCompressionTags[] = {
    COMPRESSION_NONE,      COMPRESSION_CCITTRLE, COMPRESSION_CCITTFAX3,   COMPRESSION_CCITTFAX4,
    COMPRESSION_LZW,       COMPRESSION_OJPEG,    COMPRESSION_JPEG,        COMPRESSION_NEXT,
    COMPRESSION_CCITTRLEW, COMPRESSION_PACKBITS, COMPRESSION_THUNDERSCAN, COMPRESSION_PIXARFILM,
    COMPRESSION_PIXARLOG,  COMPRESSION_DEFLATE,  COMPRESSION_DCS,         COMPRESSION_JBIG};
// PhotometricInterpretation tag value of each TIFFPhotometricCode.
constexpr uint16_t kPhotometricTags[] = {
    PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_RGB,   PHOTOMETRIC_PALETTE,
    PHOTOMETRIC_MASK,       PHOTOMETRIC_SEPARATED,  PHOTOMETRIC_YCBCR, PHOTOMETRIC_CIELAB,
    PHOTOMETRIC_LOGL,       PHOTOMETRIC_LOGLUV};

// The layer's code of a tag value; false for a value the table lacks.
template <size_t N>
bool CodeOf(const uint16_t (&tags)[N], uint16_t tag, uint32_t *code) {
  for (size_t i = 0; i < N; ++i)
    if (tags[i] == tag) {
      *code = static_cast<uint32_t>(i);
      return true;
    }
  return false;
}

// ---------------------------------------------------------------- handles

int Silent(TIFF *, void *, const char *, const char *, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF *tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct OpenOptionsFree {
  void operator()(TIFFOpenOptions *options) const { TIFFOpenOptionsFree(options); }
};

// Offset `off` from `whence` of a stream at `pos` of `size` bytes; false
// when it falls before the start (the unsigned sum wraps) or past `limit`.
bool SeekTarget(uint64_t pos, uint64_t size, toff_t off, int whence, uint64_t limit, uint64_t *to) {
  const uint64_t base = whence == SEEK_CUR ? pos : whence == SEEK_END ? size : 0;
  *to = base + off;  // negative offsets arrive as their two's complement
  return *to <= limit && (static_cast<int64_t>(off) >= 0 ? *to >= base : *to < base);
}

// The file being read: libtiff reads and maps it only within its bounds.
struct Source {
  ByteReader in;

  static tmsize_t Read(thandle_t h, void *buf, tmsize_t n) {
    ByteReader &in = static_cast<Source *>(h)->in;
    const uint8_t *p = nullptr;
    const size_t count = n < 0 ? 0 : std::min(static_cast<size_t>(n), in.Left());
    in.Take(count, &p);
    if (count) std::memcpy(buf, p, count);
    return static_cast<tmsize_t>(count);
  }
  static tmsize_t Write(thandle_t, void *, tmsize_t) { return -1; }
  static toff_t Seek(thandle_t h, toff_t off, int whence) {
    ByteReader &in = static_cast<Source *>(h)->in;
    uint64_t to;
    if (!SeekTarget(in.Offset(), in.Size(), off, whence, in.Size(), &to)) return ~toff_t{0};
    in.Seek(static_cast<size_t>(to));
    return to;
  }
  static toff_t Size(thandle_t h) { return static_cast<Source *>(h)->in.Size(); }
  static int Map(thandle_t h, void **base, toff_t *size) {
    const ByteReader &in = static_cast<Source *>(h)->in;
    *base = const_cast<uint8_t *>(in.start);  // read-only: libtiff never writes a map
    *size = in.Size();
    return 1;
  }
};

// The file being written: grows as libtiff writes; a seek past the end
// leaves zeros when the gap is written over.
struct Sink {
  EncodedFile file;
  size_t pos = 0;

  static tmsize_t Read(thandle_t h, void *buf, tmsize_t n) {
    Sink &s = *static_cast<Sink *>(h);
    const size_t size = s.file.size;
    const size_t count = n < 0 || s.pos >= size ? 0 : std::min<size_t>(n, size - s.pos);
    if (count) std::memcpy(buf, s.file.data.get() + s.pos, count);
    s.pos += count;
    return static_cast<tmsize_t>(count);
  }
  static tmsize_t Write(thandle_t h, void *buf, tmsize_t n) {
    Sink &s = *static_cast<Sink *>(h);
    size_t end;
    if (n < 0 || !CheckedAdd(s.pos, static_cast<size_t>(n), &end) ||
        ReserveEncoded(&s.file, end) != RASTER_OK)
      return -1;
    uint8_t *data = s.file.data.get();
    if (s.pos > s.file.size) std::memset(data + s.file.size, 0, s.pos - s.file.size);
    if (n) std::memcpy(data + s.pos, buf, static_cast<size_t>(n));
    s.pos = end;
    s.file.size = std::max(s.file.size, end);
    return n;
  }
  static toff_t Seek(thandle_t h, toff_t off, int whence) {
    Sink &s = *static_cast<Sink *>(h);
    uint64_t to;
    if (!SeekTarget(s.pos, s.file.size, off, whence, kMaxRasterBytes, &to)) return ~toff_t{0};
    s.pos = static_cast<size_t>(to);
    return to;
  }
  static toff_t Size(thandle_t h) { return static_cast<Sink *>(h)->file.size; }
  static int Map(thandle_t, void **, toff_t *) { return 0; }
};

int CloseNothing(thandle_t) { return 0; }
void UnmapNothing(thandle_t, void *, toff_t) {}

// A handle over `client`, or null when libtiff refuses (for reading: not a
// TIFF, or a first directory it cannot take).
template <typename Client>
TiffHandle Open(const char *mode, Client *client) {
  std::unique_ptr<TIFFOpenOptions, OpenOptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Silent, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Silent, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxRasterBytes));
  return TiffHandle(TIFFClientOpenExt("memory", mode, client, Client::Read, Client::Write,
                                      Client::Seek, CloseNothing, Client::Size, Client::Map,
                                      UnmapNothing, options.get()));
}

// ---------------------------------------------------------------- pixels

#ifdef TSL_TIFF_SSSE3
// The vector part of SwapRedBlue: 16 bytes at a time, 5 pixels of 3 bytes
// (the 16th byte comes back unchanged) or 4 of 4. Returns the bytes done,
// whole pixels; the scalar loop rewrites the byte after them.
__attribute__((target("ssse3"))) size_t SwapRedBlueSsse3(const uint8_t *src, uint8_t *dst,
                                                         size_t bytes, unsigned step) {
  const __m128i order = step == 3
                            ? _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15)
                            : _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
  const size_t advance = step == 3 ? 15 : 16;
  size_t i = 0;
  for (; i + 16 <= bytes; i += advance) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), _mm_shuffle_epi8(v, order));
  }
  return i;
}
#endif

// Pixels of `step` (3 or 4) bytes with their first and third bytes
// exchanged, from `src` into `dst` (which may be the same row): RGB(A)
// and BGR(A) turn into each other. This is the one pass that reading and
// writing 8-bit colour adds to libtiff's own work, hence the vector path.
void SwapRedBlue(const uint8_t *src, uint8_t *dst, uint32_t width, unsigned step) {
  const size_t bytes = static_cast<size_t>(width) * step;
  size_t i = 0;
#ifdef TSL_TIFF_SSSE3
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) i = SwapRedBlueSsse3(src, dst, bytes, step);
#endif
  for (; i < bytes; i += step) {
    const uint8_t first = src[i];
    dst[i] = src[i + 2];
    dst[i + 1] = src[i + 1];
    dst[i + 2] = first;
    if (step == 4) dst[i + 3] = src[i + 3];
  }
}

// ---------------------------------------------------------------- reading

// The fields of the first image that decide how it is read.
struct Fields {
  uint32_t width = 0, height = 0, rows_per_strip = 0;
  uint16_t compression = COMPRESSION_NONE, photometric = 0, bits = 1, samples = 1;
  uint16_t planar = PLANARCONFIG_CONTIG, extra_count = 0;
  uint16_t *extra_types = nullptr;
};

// How the file's samples become record pixels.
struct Layout {
  unsigned depth = 0;       // record bits per pixel
  unsigned planes = 1;      // strip passes: one per sample with separate planes
  bool indexed = false;     // one sample: palette index or grey level
  bool wide = false;        // 16-bit samples
  bool grey_alpha = false;  // a grey sample, then alpha
  bool cube = false;        // 1-bit red, green, blue (and mask) planes
  bool invert = false;      // grey with 0 as white
  bool associated = false;  // colours premultiplied by alpha
  unsigned shift = 0;       // 16-bit samples: right shift to 8 bits
};

// Whether the current directory of `file` stores the palette
// interpretation. libtiff drops a colour map it cannot read whole (cut
// short, or not the size the samples call for) with no more than a
// warning, and turns an 8-bit palette file into grey; the entry as the
// file stores it is all that is left of what the file declared. Read as
// libtiff reads it: the first entry of the tag, one integer.
bool StoresPalette(TIFF *tif, ByteReader file) {
  const bool big = TIFFIsBigTIFF(tif) != 0, motorola = file.Size() > 0 && file.start[0] == 'M';
  const auto get = [motorola](const uint8_t *p, size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v |= uint64_t{p[motorola ? bytes - 1 - i : i]} << (8 * i);
    return v;
  };
  const size_t count_bytes = big ? 8 : 2, entry_bytes = big ? 20 : 12;
  const uint64_t at = TIFFCurrentDirOffset(tif);
  const uint8_t *p;
  if (at > file.Size() || !file.Seek(static_cast<size_t>(at)) || !file.Take(count_bytes, &p))
    return false;
  for (uint64_t n = get(p, count_bytes); n > 0 && file.Take(entry_bytes, &p); --n) {
    if (get(p, 2) != TIFFTAG_PHOTOMETRIC) continue;
    const uint64_t type = get(p + 2, 2), count = get(p + 4, big ? 8 : 4);
    size_t bytes = 0;
    if (type == TIFF_BYTE || type == TIFF_SBYTE) bytes = 1;
    if (type == TIFF_SHORT || type == TIFF_SSHORT) bytes = 2;
    if (type == TIFF_LONG || type == TIFF_SLONG) bytes = 4;
    if (big && (type == TIFF_LONG8 || type == TIFF_SLONG8)) bytes = 8;
    return count == 1 && bytes && get(p + (big ? 12 : 8), bytes) == PHOTOMETRIC_PALETTE;
  }
  return false;
}

RasterError GetFields(TIFF *tif, ByteReader file, Fields *f) {
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f->width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f->height);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &f->compression);
  // Without an interpretation the samples mean nothing; the sample counts
  // of a bilevel file default to 1 (fax files often leave them out).
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f->photometric))
    return RASTER_ERR_UNSUPPORTED_OPTION;
  // A palette file whose map was lost is cut or damaged, not grey.
  if (f->photometric != PHOTOMETRIC_PALETTE && StoresPalette(tif, file)) return RASTER_ERR_READ;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &f->bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &f->samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &f->planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &f->extra_count, &f->extra_types);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &f->rows_per_strip);
  // Tiles have no strips to read.
  if (TIFFIsTiled(tif) || f->rows_per_strip == 0) return RASTER_ERR_UNSUPPORTED_OPTION;
  return RASTER_OK;
}

// Decides the record depth from the samples, refusing what the record
// cannot hold as it is: every sample beyond the interpretation's colour
// channels must be declared extra, and the product of samples and bits
// must be a depth the record takes with 8-bit channels where it has them.
RasterError Classify(const Fields &f, Layout *out) {
  unsigned colours;
  switch (f.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_PALETTE:
    case PHOTOMETRIC_MASK:
      colours = 1;
      break;
    case PHOTOMETRIC_RGB:
      colours = 3;
      break;
    default:  // YCbCr, separated inks, the Lab and Log spaces and the like
      return RASTER_ERR_UNSUPPORTED_OPTION;
  }
  const unsigned extra = f.extra_count, samples = f.samples, bits = f.bits;
  if (extra > samples || samples - extra != colours) return RASTER_ERR_UNSUPPORTED_OPTION;
  if (f.planar != PLANARCONFIG_CONTIG && f.planar != PLANARCONFIG_SEPARATE)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  // One plane holds the same bytes as one contiguous sample.
  const bool separate = f.planar == PLANARCONFIG_SEPARATE && samples > 1;
  Layout l;
  l.invert = f.photometric == PHOTOMETRIC_MINISWHITE;
  l.associated = extra > 0 && f.extra_types && f.extra_types[0] == EXTRASAMPLE_ASSOCALPHA;
  l.wide = bits == 16;
  if (l.wide && separate) return RASTER_ERR_UNSUPPORTED_OPTION;
  if (extra == 0 && colours == 1) {
    if (f.photometric == PHOTOMETRIC_PALETTE && bits > 8) return RASTER_ERR_UNSUPPORTED_OPTION;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16) return RASTER_ERR_UNSUPPORTED_OPTION;
    l.indexed = true;
    l.depth = l.wide ? 8 : bits;
  } else if (separate && bits == 1 && colours == 3) {
    l.cube = true;
    l.depth = 8;
    l.planes = samples;
  } else {
    // Grey with alpha, RGB, RGB with alpha: 8-bit channels in the record.
    l.grey_alpha = colours == 1;
    const bool grey = f.photometric == PHOTOMETRIC_MINISBLACK || l.invert;
    if (l.grey_alpha ? !grey || samples != 2 || l.wide : samples > 4)
      return RASTER_ERR_UNSUPPORTED_OPTION;
    if (bits != 8 && !l.wide) return RASTER_ERR_UNSUPPORTED_OPTION;
    l.depth = samples == 3 ? 24 : 32;
    l.planes = separate ? samples : 1;
  }
  *out = l;
  return RASTER_OK;
}

// Orientation, compression, predictor and photometric into `o`, refusing
// what the options cannot carry or the layer does not read.
RasterError FillOptions(TIFF *tif, const Fields &f, TIFFOptions *o) {
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation);
  if (orientation != ORIENTATION_TOPLEFT && orientation != ORIENTATION_BOTLEFT)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  o->orientation =
      orientation == ORIENTATION_TOPLEFT ? TIFF_ORIENT_TOP_LEFT : TIFF_ORIENT_BOTTOM_LEFT;
  o->predictor = 0;
  if (f.compression == COMPRESSION_OJPEG || f.compression == COMPRESSION_JPEG ||
      f.compression == COMPRESSION_JBIG)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  uint32_t code;
  if (CodeOf(kCompressionTags, f.compression, &code)) o->compression = code;
  if (f.compression == COMPRESSION_LZW) {
    uint16_t predictor = PREDICTOR_HORIZONTAL;
    TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor);
    o->predictor = predictor;
  }
  if (CodeOf(kPhotometricTags, f.photometric, &code)) o->photometric = code;
  return RASTER_OK;
}

bool IsFax(uint16_t compression) {
  return compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTRLEW ||
         compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
}

// Refuses a file whose stored bytes cannot decode to the `decoded` bytes
// its fields declare, before anything of that size is allocated. A stored
// byte gives at most: 1 byte uncompressed, 64 with PackBits (2 bytes for a
// run of 128), 1032 with Deflate (zlib's limit), 4096 with LZW (a code of
// 9 bits or more per string), and 8 rows with the fax codes (one bit per
// row at least). Other codecs have no bound here and fail while decoding.
RasterError CheckDataCanFill(uint16_t compression, uint64_t decoded, size_t scanline,
                             size_t file_size) {
  uint64_t expansion = 0;
  if (compression == COMPRESSION_NONE) expansion = 1;
  if (compression == COMPRESSION_PACKBITS) expansion = 64;
  if (compression == COMPRESSION_DEFLATE || compression == COMPRESSION_ADOBE_DEFLATE)
    expansion = 1032;
  if (compression == COMPRESSION_LZW) expansion = 4096;
  if (IsFax(compression)) expansion = 8 * static_cast<uint64_t>(scanline);
  return expansion && decoded / expansion > file_size ? RASTER_ERR_READ : RASTER_OK;
}

// A 16-bit sample scaled to 8 bits.
inline uint8_t Narrow(const uint8_t *samples, size_t i, unsigned shift) {
  uint16_t v;
  std::memcpy(&v, samples + 2 * i, 2);  // libtiff delivers host order
  v = static_cast<uint16_t>(v >> shift);
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

// Samples [first, first + count) of each pixel of a file row holding
// `count` samples per pixel into a direct-colour record row: red, green,
// blue to bytes 2, 1, 0, alpha to 3, a grey sample to bytes 0 to 2.
void PutDirect(const Layout &l, const uint8_t *src, unsigned first, unsigned count, uint8_t *dst,
               uint32_t width) {
  const unsigned step = l.depth / 8;
  if (!l.wide && !l.grey_alpha && count >= 3) {  // interleaved 8-bit RGB(A)
    SwapRedBlue(src, dst, width, step);
    return;
  }
  for (uint32_t x = 0; x < width; ++x, dst += step)
    for (unsigned k = 0; k < count; ++k) {
      const size_t i = static_cast<size_t>(x) * count + k;
      uint8_t v = l.wide ? Narrow(src, i, l.shift) : src[i];
      const unsigned s = first + k;
      if (l.grey_alpha && s == 0) {
        if (l.invert) v = static_cast<uint8_t>(255 - v);
        dst[0] = dst[1] = dst[2] = v;
      } else {
        dst[l.grey_alpha || s >= 3 ? 3 : 2 - s] = v;
      }
    }
}

// One row of 1-bit plane `plane` into colour-cube indices: red, green and
// blue set index bits 2, 1 and 0; a clear bit of a later plane makes the
// pixel the transparent entry 8.
void PutCubeBits(const uint8_t *src, unsigned plane, uint8_t *dst, uint32_t width) {
  for (uint32_t x = 0; x < width; ++x) {
    const unsigned bit = (src[x >> 3] >> (7 - (x & 7))) & 1;
    if (plane < 3)
      dst[x] = static_cast<uint8_t>(dst[x] | bit << (2 - plane));
    else if (!bit)
      dst[x] = 8;
  }
}

// One file row of plane `plane` into record row `dst`; `copy` bytes of a
// row of indices.
void PutRow(const Layout &l, const Fields &f, unsigned plane, const uint8_t *src, uint8_t *dst,
            size_t copy) {
  if (l.cube) {
    PutCubeBits(src, plane, dst, f.width);
  } else if (l.indexed && !l.wide) {
    std::memcpy(dst, src, copy);
  } else if (l.indexed) {
    for (uint32_t x = 0; x < f.width; ++x) dst[x] = Narrow(src, x, l.shift);
  } else {
    PutDirect(l, src, plane, l.planes > 1 ? 1 : f.samples, dst, f.width);
  }
}

// Reads plane `plane` strip by strip and hands each file row, with the
// record row it belongs to, to `put`.
template <typename Put>
RasterError ReadPlane(TIFF *tif, const Fields &f, uint16_t plane, uint8_t *strip, size_t strip_size,
                      size_t scanline, Put put) {
  // The fax codecs end a strip early at a premature end of data and report
  // it whole (libtiff fails the others' short strips); the rows they leave
  // read as zeros, not as an earlier strip.
  const bool clear = IsFax(f.compression);
  for (uint64_t row = 0; row < f.height; row += f.rows_per_strip) {
    const uint64_t n = std::min<uint64_t>(f.rows_per_strip, f.height - row);
    if (n > strip_size / scanline) return RASTER_ERR_READ;
    const tmsize_t want = static_cast<tmsize_t>(n * scanline);
    if (clear) std::memset(strip, 0, static_cast<size_t>(want));
    const uint32_t index = TIFFComputeStrip(tif, static_cast<uint32_t>(row), plane);
    if (TIFFReadEncodedStrip(tif, index, strip, want) != want) return RASTER_ERR_READ;
    for (uint64_t r = 0; r < n; ++r)
      put(RecordRow(f.height, static_cast<uint32_t>(row + r), true), strip + r * scanline);
  }
  return RASTER_OK;
}

// A 16-bit colour-map value as a byte: its high byte, exact both for maps
// written as value x 257 and as value x 256.
uint8_t CVT(uint16_t value) { return static_cast<uint8_t>(value >> 8); }

// Palette of an indexed record: the file's colour map, or the grey ramp.
RasterError FillPalette(TIFF *tif, const Fields &f, RasterImage *image) {
  const unsigned n = image->palette_size, step = image->bytes_per_palette_entry;
  if (f.photometric == PHOTOMETRIC_PALETTE) {
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue))
      return RASTER_ERR_UNSUPPORTED_OPTION;
    const bool wide = checkcmap(n, red, green, blue) == 16;
    for (unsigned i = 0; i < n; ++i) {
      uint8_t *e = image->palette + static_cast<size_t>(i) * step;
      e[0] = wide ? CVT(blue[i]) : static_cast<uint8_t>(blue[i]);
      e[1] = wide ? CVT(green[i]) : static_cast<uint8_t>(green[i]);
      e[2] = wide ? CVT(red[i]) : static_cast<uint8_t>(red[i]);
    }
  } else if (f.photometric == PHOTOMETRIC_MINISBLACK || f.photometric == PHOTOMETRIC_MINISWHITE) {
    const unsigned level = 255 / (n - 1);
    for (unsigned i = 0; i < n; ++i) {
      const unsigned v = f.photometric == PHOTOMETRIC_MINISBLACK ? i * level : 255 - i * level;
      std::memset(image->palette + static_cast<size_t>(i) * step, static_cast<int>(v), 3);
    }
  }
  return RASTER_OK;
}

// Entries 0 to 7 of the cube (blue, green, red set by index bits 0, 1, 2),
// and entry 8, grey, for the transparent pixels of a mask plane.
void FillCube(RasterImage *image) {
  for (unsigned k = 0; k < image->palette_size; ++k) {
    uint8_t *e = image->palette + static_cast<size_t>(k) * image->bytes_per_palette_entry;
    for (unsigned c = 0; c < 3; ++c) e[c] = k == 8 ? 127 : (k >> c & 1) ? 255 : 0;
  }
}

// Straight colours from premultiplied ones, rounded and capped at 255.
void Unpremultiply(RasterImage *image) {
  for (uint32_t y = 0; y < image->height; ++y) {
    uint8_t *p = image->bits + static_cast<size_t>(y) * image->scan_width;
    for (uint32_t x = 0; x < image->width; ++x, p += 4) {
      const unsigned a = p[3];
      if (a == 0) continue;
      for (unsigned c = 0; c < 3; ++c)
        p[c] = static_cast<uint8_t>(std::min(255u, (p[c] * 255u + a / 2) / a));
    }
  }
}

// The pixel readers of the two planar configurations. Both take the file's
// fields (rows per strip, sample sizes and counts, extra samples,
// photometric interpretation) as GetFields read them, the way Classify
// laid the samples out, and a strip buffer of `strip_size` bytes holding
// whole scan lines of `scanline` bytes; both allocate the record.

// Samples stored together: 16-bit samples narrowed by the shift
// MaxSampleValue calls for, an indexed record's palette from the colour
// map or the grey ramp, premultiplied colours made straight.
RasterError ReadContiguousData(TIFF *tif, RasterImage *image, uint8_t *strip, size_t strip_size,
                               size_t scanline, const Fields &f, Layout l) {
  if (l.wide) {
    uint16_t max = 65535;
    TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &max);
    while ((max >> l.shift) > 255) ++l.shift;
  }
  RasterError code = AllocateForRead(image, f.width, f.height, l.depth, 0, 0);
  if (code != RASTER_OK) return code;
  const size_t copy = std::min<size_t>(scanline, image->scan_width);
  code = ReadPlane(tif, f, 0, strip, strip_size, scanline, [&](uint32_t r, const uint8_t *src) {
    PutRow(l, f, 0, src, image->bits + size_t{r} * image->scan_width, copy);
  });
  if (code != RASTER_OK) return code;
  if (l.indexed) return FillPalette(tif, f, image);
  if (l.associated) Unpremultiply(image);
  return RASTER_OK;
}

// One plane per sample, read one after another: 1-bit red, green and blue
// planes (and a mask) become indices of the colour cube, repacked to 4
// bits; 8-bit planes go to their byte of each direct-colour pixel.
RasterError ReadSeparateData(TIFF *tif, RasterImage *image, uint8_t *strip, size_t strip_size,
                             size_t scanline, const Fields &f, const Layout &l) {
  const uint16_t cube_entries = l.cube ? (l.planes > 3 ? 9 : 8) : 0;
  RasterError code = AllocateForRead(image, f.width, f.height, l.depth, cube_entries, 0);
  if (code != RASTER_OK) return code;
  if (l.cube && l.planes > 3) image->transparency_index = 8;
  const size_t copy = std::min<size_t>(scanline, image->scan_width);
  for (unsigned p = 0; p < l.planes && code == RASTER_OK; ++p)
    code = ReadPlane(tif, f, static_cast<uint16_t>(p), strip, strip_size, scanline,
                     [&](uint32_t r, const uint8_t *src) {
                       PutRow(l, f, p, src, image->bits + size_t{r} * image->scan_width, copy);
                     });
  if (code != RASTER_OK) return code;
  if (l.cube) {
    FillCube(image);
    return CompressRasterImage(image);
  }
  if (l.associated) Unpremultiply(image);
  return RASTER_OK;
}

RasterError DecodeTiff(ByteReader in, RasterImage *image, TIFFOptions *options) {
  Source source{in};
  TiffHandle tif = Open("r", &source);
  if (!tif) return RASTER_ERR_MEMORY;
  Fields f;
  Layout l;
  RasterError code = GetFields(tif.get(), in, &f);
  if (code == RASTER_OK) code = Classify(f, &l);
  if (code == RASTER_OK && options) code = FillOptions(tif.get(), f, options);
  if (code != RASTER_OK) return code;

  const tmsize_t scanline_size = TIFFScanlineSize(tif.get());
  const tmsize_t strip_size = TIFFStripSize(tif.get());
  if (scanline_size <= 0 || strip_size <= 0) return RASTER_ERR_INVALID_SIZE;
  const size_t scanline = static_cast<size_t>(scanline_size);
  // Every sample the conversions below read lies within the scan line.
  uint32_t row_bytes;
  size_t decoded;
  const unsigned row_bits = l.planes > 1 ? f.bits : unsigned{f.bits} * f.samples;
  if (!RasterRowBytes(f.width, row_bits, false, &row_bytes) || row_bytes > scanline)
    return RASTER_ERR_INVALID_SIZE;
  if (!CheckedMul(scanline, f.height, l.planes, &decoded)) return RASTER_ERR_INVALID_SIZE;
  code = CheckDataCanFill(f.compression, decoded, scanline, in.Size());
  if (code != RASTER_OK) return code;
  // Every use of the record turns it into direct colour: 24 bits, 32 with
  // alpha or with the mask plane's transparent entry. A picture too big
  // for that is refused before the strip buffer, the record and libtiff's
  // codec state (16 bytes per pixel of width for the fax codes) take
  // memory for it, whatever its data.
  const unsigned direct = l.depth >= 24 ? l.depth : l.cube && l.planes > 3 ? 32 : 24;
  uint32_t direct_row;
  size_t direct_bytes;
  if (!RasterRowBytes(f.width, direct, image->bmp_layout != 0, &direct_row) ||
      !RasterBlockBytes(direct_row, f.height, &direct_bytes))
    return RASTER_ERR_INVALID_SIZE;
  // Zero-filled, so that no codec can show what the memory held before.
  const size_t strip_bytes = static_cast<size_t>(strip_size);
  ByteBlock strip(static_cast<uint8_t *>(SafeCalloc(strip_bytes, 1)));
  if (!strip) return RASTER_ERR_MEMORY;

  return l.planes > 1
             ? ReadSeparateData(tif.get(), image, strip.get(), strip_bytes, scanline, f, l)
             : ReadContiguousData(tif.get(), image, strip.get(), strip_bytes, scanline, f, l);
}

// ---------------------------------------------------------------- writing

// Direction of a grey palette that is exactly the ramp a reader builds for
// its depth: 1 rising from black, -1 falling from white, 0 for any other.
int GreyRampDirection(const RasterImage &image) {
  const unsigned n = image.palette_size;
  if (n != 1u << image.bits_per_pixel || !IsGreyPalette(image)) return 0;
  const unsigned level = 255 / (n - 1);
  bool rising = true, falling = true;
  for (unsigned i = 0; i < n; ++i) {
    const unsigned v = PaletteEntry(image, i)[0];
    rising = rising && v == i * level;
    falling = falling && v == 255 - i * level;
  }
  return rising ? 1 : falling ? -1 : 0;
}

// Compression tag libtiff encodes for `code` at `bits` per sample, or 0.
// Not offered: LZW; codecs libtiff only decodes; the fax and JBIG codes,
// which take one bit per pixel only (1-bit images always go out with
// PackBits); JPEG, which wants strips of a multiple of eight rows.
uint16_t CompressionTag(uint32_t code, unsigned bits) {
  switch (code) {
    case TIFF_COMPRESS_NONE:
      return COMPRESSION_NONE;
    case TIFF_COMPRESS_PACKBITS:
      return COMPRESSION_PACKBITS;
    case TIFF_COMPRESS_DEFLATE:
      return COMPRESSION_DEFLATE;
    case TIFF_COMPRESS_PIXAR_LOG:
      return bits == 8 ? COMPRESSION_PIXARLOG : 0;
    default:
      return 0;
  }
}

// Record row `row` as one file row of `scanline` bytes.
void PutFileRow(const RasterImage &image, uint32_t row, uint8_t *dst, size_t scanline) {
  const uint8_t *src = image.bits + static_cast<size_t>(row) * image.scan_width;
  const uint32_t width = image.width;
  switch (image.bits_per_pixel) {
    case 16:
      for (uint32_t x = 0; x < width; ++x, dst += 3) {
        uint8_t bgr[3];
        Expand555(static_cast<uint16_t>(src[2 * x] | src[2 * x + 1] << 8), bgr);
        dst[0] = bgr[2], dst[1] = bgr[1], dst[2] = bgr[0];
      }
      break;
    case 24:
    case 32:
      SwapRedBlue(src, dst, width, image.bits_per_pixel / 8u);
      break;
    default:  // palette indices as they are
      std::memcpy(dst, src, std::min<size_t>(scanline, image.scan_width));
      break;
  }
}

RasterError EncodeTiff(const RasterImage &image, const TIFFOptions *options, EncodedFile *out) {
  const uint32_t compression = options ? options->compression : TIFF_COMPRESS_NONE;
  const uint32_t orientation = options ? options->orientation : TIFF_ORIENT_TOP_LEFT;
  const unsigned depth = image.bits_per_pixel;
  const bool indexed = depth <= 8;
  const uint16_t samples = indexed ? 1 : depth == 32 ? 4 : 3;
  const uint16_t bits = static_cast<uint16_t>(depth == 16 ? 8 : depth / samples);
  uint16_t photometric = PHOTOMETRIC_RGB;
  if (indexed) {
    const int ramp = GreyRampDirection(image);
    photometric = ramp > 0   ? PHOTOMETRIC_MINISBLACK
                  : ramp < 0 ? PHOTOMETRIC_MINISWHITE
                             : PHOTOMETRIC_PALETTE;
  }
  const uint16_t tag = depth == 1 ? COMPRESSION_PACKBITS : CompressionTag(compression, bits);
  if (tag == 0) return RASTER_ERR_UNSUPPORTED_OPTION;

  Sink sink;
  TiffHandle tif = Open("w", &sink);
  if (!tif) return RASTER_ERR_MEMORY;
  TIFF *t = tif.get();
  // libtiff copies 1 << BitsPerSample map entries and checks ExtraSamples
  // against SamplesPerPixel, so those two come first.
  bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, image.width) &&
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, image.height) &&
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits) &&
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples) &&
            TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t{PLANARCONFIG_CONTIG});
  uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
  if (ok && samples == 4) ok = TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t{1}, &alpha);
  uint32_t rows_per_strip = TIFFDefaultStripSize(t, 65535);
  if (rows_per_strip == 65535) rows_per_strip = 1;
  ok = ok && TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
  if (ok && orientation <= TIFF_ORIENT_BOTTOM_LEFT) {
    const uint16_t value =
        orientation == TIFF_ORIENT_TOP_LEFT ? ORIENTATION_TOPLEFT : ORIENTATION_BOTLEFT;
    ok = TIFFSetField(t, TIFFTAG_ORIENTATION, value);
  }
  ok = ok && TIFFSetField(t, TIFFTAG_COMPRESSION, tag) &&
       TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  if (ok && photometric == PHOTOMETRIC_PALETTE) {
    // Value x 257 spreads 0..255 over the whole 16-bit range, so every
    // reader's scaling back gives the same byte.
    const size_t n = size_t{1} << bits;
    std::vector<uint16_t> map(3 * n, 0);
    for (size_t i = 0; i < n && i < image.palette_size; ++i) {
      const uint8_t *e = PaletteEntry(image, static_cast<unsigned>(i));
      map[i] = static_cast<uint16_t>(e[2] * 257);
      map[n + i] = static_cast<uint16_t>(e[1] * 257);
      map[2 * n + i] = static_cast<uint16_t>(e[0] * 257);
    }
    ok = TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
  }
  if (!ok) return RASTER_ERR_WRITE;

  const tmsize_t scanline_size = TIFFScanlineSize(t), strip_size = TIFFStripSize(t);
  if (scanline_size <= 0 || strip_size < scanline_size) return RASTER_ERR_WRITE;
  const size_t scanline = static_cast<size_t>(scanline_size);
  ByteBlock strip(static_cast<uint8_t *>(SafeCalloc(static_cast<size_t>(strip_size), 1)));
  if (!strip) return RASTER_ERR_MEMORY;
  const uint64_t rows =
      std::min<uint64_t>(rows_per_strip, static_cast<uint64_t>(strip_size) / scanline);
  uint32_t s = 0;
  for (uint64_t row = 0; row < image.height; row += rows, ++s) {
    const uint64_t n = std::min<uint64_t>(rows, image.height - row);
    for (uint64_t r = 0; r < n; ++r)
      PutFileRow(image, RecordRow(image.height, static_cast<uint32_t>(row + r), true),
                 strip.get() + r * scanline, scanline);
    if (TIFFWriteEncodedStrip(t, s, strip.get(), strip_size) < 0) return RASTER_ERR_WRITE;
  }
  // Closing reports nothing, so the directory is written while a failure
  // can still be seen.
  if (!TIFFWriteDirectory(t)) return RASTER_ERR_WRITE;
  tif.reset();
  *out = std::move(sink.file);
  return RASTER_OK;
}

}  // namespace

int checkcmap(unsigned n, const uint16_t *red, const uint16_t *green, const uint16_t *blue) {
  for (unsigned i = 0; i < n; ++i)
    if (red[i] > 255 || green[i] > 255 || blue[i] > 255) return 16;
  return 8;
}

RasterError ReadTIFF(const char *filename, RasterImage *image, TIFFOptions *options) {
  return ReadRasterFile(filename, image, [options](ByteReader in, RasterImage *img) {
    return DecodeTiff(in, img, options);
  });
}

RasterError ReadTIFFMemory(const uint8_t *data, size_t size, RasterImage *image,
                           TIFFOptions *options) {
  return ReadRasterMemory(data, size, image, [options](ByteReader in, RasterImage *img) {
    return DecodeTiff(in, img, options);
  });
}

bool TIFFCanWrite(uint32_t compression, unsigned bits_per_sample) {
  return CompressionTag(compression, bits_per_sample) != 0;
}

RasterError WriteTIFF(const char *filename, RasterImage image, const TIFFOptions *options) {
  return WriteRasterFile(filename, image,
                         [options](const RasterImage &img, const char *, EncodedFile *out) {
                           return EncodeTiff(img, options, out);
                         });
}

}  // namespace tsl
