// PNG files through libpng. libpng's own transforms give the record's
// layouts (16-bit samples stripped to their high byte, colour blue first,
// grey with alpha as colour, palettes expanded with their tRNS alpha) and
// write them straight into the record's rows; only 2-bit pixels and an 8-bit
// RGB file's transparent colour need a pass of their own, and a 16-bit grey
// or RGB file whose transparent colour shows the background goes through a
// row of its own. The writer hands the record's rows to libpng the same way.
//
// libpng reports errors by long jump: the functions between a jump point
// and libpng hold no object with a destructor, and what must outlive a jump
// lives in the caller's frame.
#include "image/png.h"

#include <png.h>

#include <cstdlib>
#include <cstring>

#include "image/raster_io.h"

namespace tsl {

namespace {

constexpr size_t kSignatureBytes = 8;
// Deflate makes at most 1032 bytes of one stored byte, so rows needing
// more than that many times the file's size cannot all be in it.
constexpr uint64_t kMaxInflation = 1032;

// The layer reports through its codes alone: libpng prints nothing, and
// each of its errors returns to the call's jump point.
void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep data, size_t length) {
  const uint8_t *p;
  if (!static_cast<ByteReader *>(png_get_io_ptr(png))->Take(length, &p))
    png_error(png, "truncated");
  std::memcpy(data, p, length);
}

uint8_t *RecordRowBytes(const RasterImage &image, uint32_t file_row) {
  return image.bits + size_t{RecordRow(image.height, file_row, true)} * image.scan_width;
}

// A sample as the reader keeps it: 16-bit samples by their high byte.
unsigned Stripped(unsigned sample, int depth) { return depth == 16 ? sample >> 8 : sample; }

// A grey sample as an 8-bit level: below 8 bits scaled to 0..255.
uint8_t GreyLevel(unsigned sample, int depth) {
  if (depth < 8) sample = sample * 255 / ((1u << depth) - 1);
  sample = Stripped(sample, depth);
  return static_cast<uint8_t>(sample > 255 ? 255 : sample);
}

// In place: a row of `width` 2-bit pixels becomes 4-bit pixels. Each source
// byte widens into bytes at or after its own, so going from the end reads
// every byte before it is overwritten.
void WidenRow(uint8_t *row, uint32_t width) {
  const size_t in = (size_t{width} + 3) / 4, out = (size_t{width} + 1) / 2;
  for (size_t k = in; k-- > 0;) Expand2to4(row + 2 * k, row[k], out - 2 * k < 2 ? 1 : 2);
}

// What a read works with. Trivially destructible: libpng's long jumps skip
// the frames that use it.
struct PngRead {
  png_structp png;
  png_infop info;
  ByteReader in;
  size_t file_size;
  RasterImage *image;
  uint8_t *row;  // malloc'ed: a 16-bit keyed file's row as libpng gives it
};

// A 16-bit keyed file's rows, given by libpng as blue, green, red, alpha
// with alpha 0 exactly where the whole samples equal the key: those pixels
// take `bg`. An interlaced file is read pass by pass and each pass's pixels
// put in place here: libpng's own interlace handling would fill 4-byte rows
// over all passes, so it would need a whole picture of them.
void ReadKeyedRows(png_structp png, uint8_t *row, const RasterImage &image, const uint8_t *bg,
                   bool adam7) {
  for (int pass = 0; pass < (adam7 ? 7 : 1); ++pass) {
    const uint32_t cols = adam7 ? PNG_PASS_COLS(image.width, pass) : image.width;
    const uint32_t rows = adam7 ? PNG_PASS_ROWS(image.height, pass) : image.height;
    if (cols == 0) continue;  // libpng skips a pass without pixels
    for (uint32_t y = 0; y < rows; ++y) {
      png_read_row(png, row, nullptr);
      uint8_t *out = RecordRowBytes(image, adam7 ? PNG_ROW_FROM_PASS_ROW(y, pass) : y);
      for (uint32_t x = 0; x < cols; ++x) {
        const uint8_t *p = row + size_t{4} * x;
        const uint32_t column = adam7 ? PNG_COL_FROM_PASS_COL(x, pass) : x;
        std::memcpy(out + size_t{3} * column, p[3] ? p : bg, 3);
      }
    }
  }
}

RasterError DecodePngSteps(PngRead *r) {
  png_structp png = r->png;
  png_infop info = r->info;
  png_set_read_fn(png, &r->in, ReadFromMemory);
  png_set_sig_bytes(png, static_cast<int>(kSignatureBytes));
  png_read_info(png, info);
  png_uint_32 width, height;
  int depth, colour, interlace;
  png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
  const uint64_t pixel_bits = uint64_t{width} * depth * png_get_channels(png, info);
  if (pixel_bits / 8 * height > kMaxInflation * r->file_size) return RASTER_ERR_INVALID_FORMAT;

  // Background colour (blue, green, red) and transparency.
  png_color_16p bkgd = nullptr, trans = nullptr;
  png_bytep trans_alpha = nullptr;
  int num_trans = 0;
  const bool background = png_get_bKGD(png, info, &bkgd) != 0;
  const bool has_trns = png_get_tRNS(png, info, &trans_alpha, &num_trans, &trans) != 0 &&
                        num_trans > 0;
  const bool palette = colour == PNG_COLOR_TYPE_PALETTE;
  uint8_t bg[3] = {0, 0, 0};
  if (background && colour == PNG_COLOR_TYPE_GRAY) {
    std::memset(bg, GreyLevel(bkgd->gray, depth), 3);
  } else if (background) {
    bg[0] = static_cast<uint8_t>(Stripped(bkgd->blue, depth));
    bg[1] = static_cast<uint8_t>(Stripped(bkgd->green, depth));
    bg[2] = static_cast<uint8_t>(Stripped(bkgd->red, depth));
  }
  // Only a palette file has an alpha table; a grey or RGB file's tRNS
  // colour counts only with a background to show in its place.
  bool expand = false, blend_first = false;
  int16_t transparent = -1;
  if (palette && has_trns && trans_alpha) {
    if (num_trans == 1 && background) blend_first = true;
    else if (num_trans == 1 && trans_alpha[0] == 0) transparent = 0;
    else expand = true;
  }
  const bool keyed = !palette && has_trns && background && trans;
  // A 16-bit key is matched on whole samples, which libpng's tRNS expansion
  // does before the low bytes go. Grey reads as colour then: the key and a
  // neighbouring level share one 8-bit level, so one palette entry cannot
  // tell them apart.
  const bool key16 = keyed && depth == 16;

  unsigned bpp = 32;  // grey or colour with alpha
  unsigned entries = 0;
  png_colorp plte = nullptr;
  int num_palette = 0;
  if (colour == PNG_COLOR_TYPE_GRAY && !key16) {
    bpp = depth == 16 ? 8 : depth == 2 ? 4 : depth;
    entries = 1u << (depth == 16 ? 8 : depth);
  } else if (palette) {
    if (!png_get_PLTE(png, info, &plte, &num_palette) || num_palette < 1)
      return RASTER_ERR_INVALID_FORMAT;
    if (!expand) bpp = depth == 2 ? 4 : depth;
    entries = static_cast<unsigned>(num_palette);
  } else if (colour == PNG_COLOR_TYPE_RGB || key16) {
    bpp = 24;
  }
  RasterError code = AllocateForRead(r->image, width, height, bpp,
                                     static_cast<uint16_t>(bpp <= 8 ? entries : 0), 0);
  if (code != RASTER_OK) return code;
  RasterImage &image = *r->image;
  image.transparency_index = transparent;

  if (bpp <= 8) {
    const unsigned step = image.bytes_per_palette_entry;
    for (unsigned i = 0; i < image.palette_size; ++i) {
      uint8_t *e = image.palette + size_t{i} * step;
      if (palette) {
        e[0] = plte[i].blue, e[1] = plte[i].green, e[2] = plte[i].red;
      } else {
        std::memset(e, static_cast<int>(i * (255 / (image.palette_size - 1))), 3);
      }
    }
    if (blend_first)
      for (int c = 0; c < 3; ++c) image.palette[c] = AlphaComp(image.palette[c], trans_alpha[0], bg[c]);
    // A grey file shows its transparent level as the background.
    const unsigned level = keyed ? trans->gray : 0;
    if (keyed && level < image.palette_size) std::memcpy(image.palette + size_t{level} * step, bg, 3);
  }

  if (key16) {
    png_set_tRNS_to_alpha(png);
    r->row = static_cast<uint8_t *>(SafeMalloc(width, 4));
    if (!r->row) return RASTER_ERR_MEMORY;
  }
  if (depth == 16) png_set_strip_16(png);
  if (expand) png_set_palette_to_rgb(png);
  if (colour == PNG_COLOR_TYPE_GRAY_ALPHA || (key16 && colour == PNG_COLOR_TYPE_GRAY))
    png_set_gray_to_rgb(png);
  if (bpp >= 24) png_set_bgr(png);
  const int passes = key16 ? 0 : png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) > (key16 ? size_t{4} * width : image.scan_width))
    return RASTER_ERR_INVALID_FORMAT;
  if (key16) ReadKeyedRows(png, r->row, image, bg, interlace != PNG_INTERLACE_NONE);
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < height; ++y) png_read_row(png, RecordRowBytes(image, y), nullptr);

  if (depth == 2 && bpp == 4)
    for (uint32_t y = 0; y < height; ++y) WidenRow(RecordRowBytes(image, y), width);
  if (keyed && !key16 && colour == PNG_COLOR_TYPE_RGB) {
    const unsigned key[3] = {trans->blue, trans->green, trans->red};
    for (uint32_t y = 0; y < height; ++y)
      for (uint8_t *p = RecordRowBytes(image, y), *end = p + size_t{3} * width; p < end; p += 3)
        if (p[0] == key[0] && p[1] == key[1] && p[2] == key[2]) std::memcpy(p, bg, 3);
  }
  png_read_end(png, nullptr);
  return RASTER_OK;
}

RasterError GuardedDecode(PngRead *r) {
  if (setjmp(png_jmpbuf(r->png))) return RASTER_ERR_INVALID_FORMAT;
  return DecodePngSteps(r);
}

RasterError DecodePng(ByteReader in, RasterImage *image) {
  const uint8_t *signature;
  if (!in.Take(kSignatureBytes, &signature) || png_sig_cmp(signature, 0, kSignatureBytes) != 0)
    return RASTER_ERR_UNSUPPORTED_OPTION;
  PngRead r{nullptr, nullptr, in, in.Size(), image, nullptr};
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!r.png) return RASTER_ERR_MEMORY;
  r.info = png_create_info_struct(r.png);
  const RasterError code = r.info ? GuardedDecode(&r) : RASTER_ERR_MEMORY;
  png_destroy_read_struct(&r.png, &r.info, nullptr);
  std::free(r.row);
  return code;
}

// What a write works with; trivially destructible, as for reading.
struct PngWrite {
  png_structp png;
  png_infop info;
  const RasterImage *image;
  EncodedFile *out;
  RasterError failure;  // why the output hook raised a libpng error
  png_color plte[256];
};

void WriteToMemory(png_structp png, png_bytep data, size_t length) {
  PngWrite *w = static_cast<PngWrite *>(png_get_io_ptr(png));
  w->failure = AppendEncoded(w->out, data, length);
  if (w->failure != RASTER_OK) png_error(png, "output");
}
void FlushNothing(png_structp) {}

// Whether a grey PNG of the record's depth shows the palette's levels:
// entry i must be i scaled from the depth's range to 0..255.
bool IsDepthGreyRamp(const RasterImage &image) {
  if (image.bits_per_pixel == 8) return IsGreyRamp(image);
  if (!IsGreyPalette(image)) return false;
  const unsigned top = (1u << image.bits_per_pixel) - 1;
  for (unsigned i = 0; i < image.palette_size; ++i)
    if (PaletteEntry(image, i)[0] != i * 255 / top) return false;
  return true;
}

RasterError EncodePngSteps(PngWrite *w) {
  png_structp png = w->png;
  png_infop info = w->info;
  const RasterImage &image = *w->image;
  png_set_write_fn(png, w, WriteToMemory, FlushNothing);
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  const unsigned bpp = image.bits_per_pixel;
  const bool indexed = bpp <= 8;
  const int colour = !indexed             ? (bpp == 32 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB)
                     : IsDepthGreyRamp(image) ? PNG_COLOR_TYPE_GRAY
                                              : PNG_COLOR_TYPE_PALETTE;
  png_set_IHDR(png, info, image.width, image.height, indexed ? static_cast<int>(bpp) : 8, colour,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (colour == PNG_COLOR_TYPE_PALETTE) {
    // Entries past 1 << depth cannot be indexed, and PNG refuses them.
    const unsigned n = image.palette_size < (1u << bpp) ? image.palette_size : 1u << bpp;
    for (unsigned i = 0; i < n; ++i) {
      const uint8_t *e = PaletteEntry(image, i);
      w->plte[i] = png_color{e[2], e[1], e[0]};
    }
    png_set_PLTE(png, info, w->plte, static_cast<int>(n));
  }
  png_write_info(png, info);
  if (!indexed) png_set_bgr(png);
  for (uint32_t y = 0; y < image.height; ++y) png_write_row(png, RecordRowBytes(image, y));
  png_write_end(png, info);
  return RASTER_OK;
}

RasterError GuardedEncode(PngWrite *w) {
  if (setjmp(png_jmpbuf(w->png)))
    return w->failure != RASTER_OK ? w->failure : RASTER_ERR_INVALID_FORMAT;
  return EncodePngSteps(w);
}

RasterError EncodePng(const RasterImage &image, const char *, EncodedFile *out) {
  OwnedRecord wide;
  const RasterImage *source;
  RasterError code = WithoutWords555(image, &wide, &source);
  if (code != RASTER_OK) return code;
  PngWrite w{};
  w.image = source;
  w.out = out;
  w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!w.png) return RASTER_ERR_MEMORY;
  w.info = png_create_info_struct(w.png);
  code = w.info ? GuardedEncode(&w) : RASTER_ERR_MEMORY;
  png_destroy_write_struct(&w.png, &w.info);
  return code;
}

}  // namespace

void Expand2to4(uint8_t *destination, uint8_t source, size_t count) {
  destination[0] = static_cast<uint8_t>((source >> 6 & 3) << 4 | (source >> 4 & 3));
  if (count > 1) destination[1] = static_cast<uint8_t>((source >> 2 & 3) << 4 | (source & 3));
}

RasterError ReadPNG(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodePng);
}

RasterError ReadPNGMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodePng);
}

RasterError WritePNG(const char *filename, RasterImage image) {
  return WriteRasterFile(filename, image, EncodePng);
}

}  // namespace tsl
