// The image record, the layer's status codes and last error, and the pixel
// conversions.
#include "image/raster_image.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/checked.h"

namespace tsl {

const char RasterErrorStrings[kRasterErrorCount][128] = {
    "No Error",
    "Corrupted file or invalid file format",
    "Invalid bits per pixel for this file format",
    "Memory allocation error",
    "Invalid requested image size",
    "Invalid bitmap handle",
    "Windows API Error",
    "Unable to open file",
    "Unsupported file format option",
    "Invalid pointer to a raster image",
    "Unsupported file extension",
    "Error reading file",
    "Error writing to the output file",
    "Invalid pointer to a GeoTIFF structure",
    "The background image is undefined",
    "The background image is too small",
    "Corrupt File",
};

RasterLayerState g_raster_state;

namespace {

// What a palette lookup gives for an index without an entry.
const uint8_t kBlackEntry[4] = {0, 0, 0, 0};

// Rows of a new depth for `image`, zero-filled; null when too large or short
// of memory (*code says which).
uint8_t *NewRows(const RasterImage &image, unsigned bpp, bool pad, uint32_t *scan_width,
                 RasterError *code) {
  size_t total;
  if (!RasterRowBytes(image.width, bpp, pad, scan_width) ||
      !RasterBlockBytes(*scan_width, image.height, &total)) {
    *code = RASTER_ERR_INVALID_SIZE;
    return nullptr;
  }
  uint8_t *rows = static_cast<uint8_t *>(std::calloc(total, 1));
  *code = rows ? RASTER_OK : RASTER_ERR_MEMORY;
  return rows;
}

void ReplaceRows(RasterImage *image, uint8_t *rows, uint32_t scan_width, unsigned bpp) {
  std::free(image->bits);
  image->bits = rows;
  image->scan_width = scan_width;
  image->bits_per_pixel = static_cast<uint8_t>(bpp);
}

}  // namespace

// ---------------------------------------------------------------- sizes

bool RasterRowBytes(uint64_t width, unsigned bits_per_pixel, bool pad_to_4, uint32_t *out) {
  if (width > kMaxRasterBytes) return false;  // keeps the products below in range
  uint64_t bytes = (width * bits_per_pixel + 7) / 8;
  if (pad_to_4) bytes = (bytes + 3) / 4 * 4;
  if (bytes > kMaxRasterBytes) return false;
  *out = static_cast<uint32_t>(bytes);
  return true;
}

bool RasterBlockBytes(uint64_t row_bytes, uint64_t rows, size_t *out) {
  return RasterBlockBytes(row_bytes, rows, 1, out);
}

bool RasterBlockBytes(uint64_t row_bytes, uint64_t rows, uint64_t planes, size_t *out) {
  if (row_bytes == 0 || rows == 0 || planes == 0) return false;
  if (row_bytes > kMaxRasterBytes || rows > kMaxRasterBytes || planes > kMaxRasterBytes)
    return false;
  uint64_t n = row_bytes * rows;
  if (n > kMaxRasterBytes) return false;
  n *= planes;
  if (n > kMaxRasterBytes) return false;
  *out = static_cast<size_t>(n);
  return true;
}

bool IsRasterDepth(unsigned bits_per_pixel) {
  switch (bits_per_pixel) {
    case 1: case 4: case 8: case 16: case 24: case 32:
      return true;
    default:
      return false;
  }
}

RasterError CheckRasterImage(const RasterImage &image) {
  if (!image.bits) return RASTER_ERR_INVALID_IMAGE;
  if (image.width == 0 || image.height == 0) return RASTER_ERR_INVALID_SIZE;
  if (!IsRasterDepth(image.bits_per_pixel)) return RASTER_ERR_INVALID_BPP;
  uint32_t pixel_bytes;
  if (!RasterRowBytes(image.width, image.bits_per_pixel, false, &pixel_bytes))
    return RASTER_ERR_INVALID_SIZE;
  if (image.scan_width < pixel_bytes) return RASTER_ERR_INVALID_IMAGE;
  if (image.bits_per_pixel <= 8 &&
      (!image.palette || image.palette_size == 0 || image.bytes_per_palette_entry < 3))
    return RASTER_ERR_INVALID_IMAGE;
  return RASTER_OK;
}

// ---------------------------------------------------------------- record

void InitRasterImage(RasterImage *image) {
  std::memset(image, 0, sizeof *image);
  image->transparency_index = -1;
}

void FreeRasterImage(RasterImage *image) {
  std::free(image->bits);
  std::free(image->palette);
  InitRasterImage(image);
}

RasterError AllocateRasterImage(RasterImage *image) {
  SetLastRasterError(RASTER_OK);
  RasterError code = RASTER_OK;
  uint32_t scan_width = 0;
  size_t rows_bytes = 0;
  if (static_cast<uint64_t>(image->width) * image->height == 0) {
    code = RASTER_ERR_INVALID_SIZE;
  } else if (!IsRasterDepth(image->bits_per_pixel)) {
    code = RASTER_ERR_INVALID_BPP;
  } else {
    std::free(image->bits);
    std::free(image->palette);
    image->bits = nullptr;
    image->palette = nullptr;
    if (image->bits_per_pixel <= 8) {
      if (image->bmp_layout > 0 || image->bytes_per_palette_entry >= 4)
        image->bytes_per_palette_entry = 4;
      else
        image->bytes_per_palette_entry = 3;
      if (image->palette_size == 0)
        image->palette_size = static_cast<uint16_t>(1u << image->bits_per_pixel);
    } else {
      image->bytes_per_palette_entry = 0;
      image->palette_size = 0;
    }
    if (!RasterRowBytes(image->width, image->bits_per_pixel, image->bmp_layout != 0,
                        &scan_width) ||
        !RasterBlockBytes(scan_width, image->height, &rows_bytes)) {
      code = RASTER_ERR_INVALID_SIZE;
    } else {
      image->scan_width = scan_width;
      if (image->palette_size > 0) {
        image->palette = static_cast<uint8_t *>(
            SafeCalloc(image->palette_size, image->bytes_per_palette_entry));
        if (!image->palette) code = RASTER_ERR_MEMORY;
      }
      if (code == RASTER_OK) {
        image->bits = static_cast<uint8_t *>(std::calloc(rows_bytes, 1));
        if (!image->bits) {
          std::free(image->palette);
          image->palette = nullptr;
          code = RASTER_ERR_MEMORY;
        }
      }
    }
  }
  SetLastRasterError(code);
  return code;
}

RasterError CopyRasterImage(RasterImage source, RasterImage *copy) {
  SetLastRasterError(RASTER_OK);
  FreeRasterImage(copy);
  copy->width = source.width;
  copy->height = source.height;
  copy->bits_per_pixel = source.bits_per_pixel;
  copy->palette_size = source.palette_size;
  // Allocation keeps 4-byte entries asked for, so a reader's 4-byte
  // palette without the BMP layout stays 4 bytes an entry.
  copy->bytes_per_palette_entry = source.bytes_per_palette_entry;
  copy->bmp_layout = source.bmp_layout;
  copy->transparency_index = source.transparency_index;
  if (source.width == 0 || source.height == 0) return RASTER_OK;
  RasterError code = AllocateRasterImage(copy);
  if (code != RASTER_OK) return code;
  // Row and entry sizes follow the copy's own layout; when the source's
  // differ, only what both hold is copied.
  size_t row_bytes = source.scan_width < copy->scan_width ? source.scan_width : copy->scan_width;
  if (source.bits) {
    for (uint32_t y = 0; y < source.height; ++y)
      std::memcpy(RasterRow(*copy, y), RasterRow(source, y), row_bytes);
  }
  if (source.palette && copy->palette) {
    size_t entry = source.bytes_per_palette_entry < copy->bytes_per_palette_entry
                       ? source.bytes_per_palette_entry
                       : copy->bytes_per_palette_entry;
    for (unsigned i = 0; i < copy->palette_size; ++i)
      std::memcpy(copy->palette + i * copy->bytes_per_palette_entry,
                  source.palette + i * source.bytes_per_palette_entry, entry);
  }
  return RASTER_OK;
}

void FreeRasterMemory(unsigned char *buffer) { std::free(buffer); }

// ---------------------------------------------------------------- helpers

const uint8_t *PaletteEntry(const RasterImage &image, unsigned index) {
  if (!image.palette || index >= image.palette_size) return kBlackEntry;
  return image.palette + static_cast<size_t>(index) * image.bytes_per_palette_entry;
}

void SetPaletteEntry(RasterImage *image, unsigned index, uint8_t red, uint8_t green, uint8_t blue) {
  if (!image->palette || index >= image->palette_size) return;
  uint8_t *entry = image->palette + static_cast<size_t>(index) * image->bytes_per_palette_entry;
  entry[0] = blue, entry[1] = green, entry[2] = red;
}

void UnpackIndexRow(const RasterImage &image, uint32_t row, uint8_t *out) {
  const uint8_t *in = RasterRow(image, row);
  const uint32_t w = image.width;
  switch (image.bits_per_pixel) {
    case 1:
      for (uint32_t x = 0; x < w; ++x) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
      break;
    case 4:
      for (uint32_t x = 0; x < w; ++x)
        out[x] = (x & 1) ? (in[x >> 1] & 0x0F) : (in[x >> 1] >> 4);
      break;
    default:
      std::memcpy(out, in, w);
      break;
  }
}

void PutIndex(uint8_t *row, uint32_t x, unsigned bits_per_pixel, uint8_t index) {
  if (bits_per_pixel == 1) {
    const unsigned shift = 7 - (x & 7);
    row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1u << shift)) | (index & 1u) << shift);
  } else if (bits_per_pixel == 4) {
    const unsigned shift = (x & 1) ? 0 : 4;
    row[x >> 1] =
        static_cast<uint8_t>((row[x >> 1] & ~(0x0Fu << shift)) | (index & 0x0Fu) << shift);
  } else {
    row[x] = index;
  }
}

void Expand555(uint16_t word, uint8_t *bgr) {
  bgr[0] = static_cast<uint8_t>((word & 0x1F) << 3);
  bgr[1] = static_cast<uint8_t>(((word >> 5) & 0x1F) << 3);
  bgr[2] = static_cast<uint8_t>(((word >> 10) & 0x1F) << 3);
}

bool IsGreyPalette(const RasterImage &image) {
  if (!image.palette || image.palette_size == 0) return false;
  for (unsigned i = 0; i < image.palette_size; ++i) {
    const uint8_t *e = PaletteEntry(image, i);
    if (e[0] != e[1] || e[1] != e[2]) return false;
  }
  return true;
}

bool IsGreyRamp(const RasterImage &image) {
  if (!IsGreyPalette(image)) return false;
  for (unsigned i = 0; i < image.palette_size; ++i)
    if (PaletteEntry(image, i)[0] != i) return false;
  return true;
}

// ---------------------------------------------------------------- conversions

RasterError ConvertPaletteToRGB(RasterImage source, RasterImage *out) {
  SetLastRasterError(RASTER_OK);
  InitRasterImage(out);
  RasterError code = RASTER_OK;
  if (source.width == 0 || source.height == 0) {
    code = RASTER_ERR_INVALID_SIZE;
  } else if (source.bits_per_pixel > 8) {
    code = CheckRasterImage(source);
    if (code == RASTER_OK) code = CopyRasterImage(source, out);
    if (code == RASTER_OK && out->bits_per_pixel == 16) code = Convert16to24(out);
  } else {
    code = CheckRasterImage(source);
    if (code == RASTER_OK) {
      out->width = source.width;
      out->height = source.height;
      out->bmp_layout = source.bmp_layout;
      out->bits_per_pixel = source.transparency_index >= 0 ? 32 : 24;
      code = AllocateRasterImage(out);
    }
    if (code == RASTER_OK) {
      std::unique_ptr<uint8_t, FreeDeleter> index(static_cast<uint8_t *>(std::malloc(source.width)));
      if (!index) code = RASTER_ERR_MEMORY;
      const unsigned step = out->bits_per_pixel / 8;
      for (uint32_t y = 0; code == RASTER_OK && y < source.height; ++y) {
        UnpackIndexRow(source, y, index.get());
        uint8_t *dst = RasterRow(*out, y);
        for (uint32_t x = 0; x < source.width; ++x, dst += step) {
          const uint8_t i = index.get()[x];
          std::memcpy(dst, PaletteEntry(source, i), 3);
          if (step == 4) dst[3] = i == source.transparency_index ? 0 : 255;
        }
      }
    }
  }
  if (code != RASTER_OK) FreeRasterImage(out);
  out->transparency_index = -1;
  SetLastRasterError(code);
  return code;
}

void Convert1to8(RasterImage source, unsigned char *out) {
  if (!source.bits || source.bits_per_pixel != 1) return;
  for (uint32_t y = 0; y < source.height; ++y)
    UnpackIndexRow(source, y, out + static_cast<size_t>(y) * source.width);
}

void Convert4to8(RasterImage source, unsigned char *out) {
  if (!source.bits || source.bits_per_pixel != 4) return;
  for (uint32_t y = 0; y < source.height; ++y)
    UnpackIndexRow(source, y, out + static_cast<size_t>(y) * source.width);
}

RasterError Convert16to24(RasterImage *image) {
  if (image->bits_per_pixel != 16) return RASTER_ERR_INVALID_BPP;
  RasterError code = CheckRasterImage(*image);
  if (code != RASTER_OK) return code;
  uint32_t scan_width;
  uint8_t *rows = NewRows(*image, 24, image->bmp_layout != 0, &scan_width, &code);
  if (!rows) return code;
  for (uint32_t y = 0; y < image->height; ++y) {
    const uint8_t *in = RasterRow(*image, y);
    uint8_t *dst = rows + static_cast<size_t>(y) * scan_width;
    for (uint32_t x = 0; x < image->width; ++x)
      Expand555(static_cast<uint16_t>(in[2 * x] | in[2 * x + 1] << 8), dst + 3 * x);
  }
  ReplaceRows(image, rows, scan_width, 24);
  return RASTER_OK;
}

RasterError CompressRasterImage(RasterImage *image) {
  SetLastRasterError(RASTER_OK);
  if (!image->palette || image->palette_size > 16 || image->bits_per_pixel != 8)
    return RASTER_OK;
  RasterError code = CheckRasterImage(*image);
  uint8_t *rows = nullptr;
  uint32_t scan_width = 0;
  const unsigned depth = image->palette_size <= 2 ? 1 : 4;
  if (code == RASTER_OK) rows = NewRows(*image, depth, image->bmp_layout > 0, &scan_width, &code);
  if (rows) {
    for (uint32_t y = 0; y < image->height; ++y) {
      const uint8_t *in = RasterRow(*image, y);
      uint8_t *dst = rows + static_cast<size_t>(y) * scan_width;
      for (uint32_t x = 0; x < image->width; ++x) {
        if (depth == 1)
          dst[x >> 3] |= static_cast<uint8_t>((in[x] & 1) << (7 - (x & 7)));
        else
          dst[x >> 1] |= static_cast<uint8_t>((x & 1) ? (in[x] & 0x0F) : (in[x] << 4));
      }
    }
    ReplaceRows(image, rows, scan_width, depth);
  }
  SetLastRasterError(code);
  return code;
}

uint8_t CreateGrayScale(const unsigned char *pixel) {
  float grey = 0.299f * pixel[2];
  grey = grey + 0.587f * pixel[1];
  grey = grey + 0.114f * pixel[0];
  grey = grey + 0.5f;
  return static_cast<uint8_t>(static_cast<int>(grey) & 0xFF);
}

RasterError ConvertToGrayScale(RasterImage *image) {
  SetLastRasterError(RASTER_OK);
  RasterError code = CheckRasterImage(*image);
  if (code == RASTER_OK && image->bits_per_pixel == 16) code = Convert16to24(image);
  if (code == RASTER_OK && image->bits_per_pixel == 24) {
    uint32_t scan_width;
    std::unique_ptr<uint8_t, FreeDeleter> rows(
        NewRows(*image, 8, image->bmp_layout != 0, &scan_width, &code));
    const uint8_t entry = image->bmp_layout == 1 ? 4 : 3;
    std::unique_ptr<uint8_t, FreeDeleter> palette;
    if (rows) {
      palette.reset(static_cast<uint8_t *>(std::calloc(256, entry)));
      if (!palette) code = RASTER_ERR_MEMORY;
    }
    if (code == RASTER_OK) {
      for (unsigned i = 0; i < 256; ++i) std::memset(palette.get() + i * entry, i, 3);
      for (uint32_t y = 0; y < image->height; ++y) {
        const uint8_t *in = RasterRow(*image, y);
        uint8_t *dst = rows.get() + static_cast<size_t>(y) * scan_width;
        for (uint32_t x = 0; x < image->width; ++x) dst[x] = CreateGrayScale(in + 3 * x);
      }
      std::free(image->palette);
      image->palette = palette.release();
      image->palette_size = 256;
      image->bytes_per_palette_entry = entry;
      ReplaceRows(image, rows.release(), scan_width, 8);
    }
  } else if (code == RASTER_OK && image->bits_per_pixel == 32) {
    for (uint32_t y = 0; y < image->height; ++y) {
      uint8_t *p = RasterRow(*image, y);
      for (uint32_t x = 0; x < image->width; ++x, p += 4) std::memset(p, CreateGrayScale(p), 3);
    }
  } else if (code == RASTER_OK && image->bits_per_pixel <= 8) {
    for (unsigned i = 0; i < image->palette_size; ++i) {
      uint8_t *e = image->palette + i * image->bytes_per_palette_entry;
      std::memset(e, CreateGrayScale(e), 3);
    }
  }
  SetLastRasterError(code);
  return code;
}

RasterError ConvertToPseudoGrayScale(RasterImage *image) {
  SetLastRasterError(RASTER_OK);
  RasterError code = RASTER_OK;
  if (image->bits_per_pixel <= 16) code = RASTER_ERR_INVALID_BPP;
  if (code == RASTER_OK) code = CheckRasterImage(*image);
  if (code == RASTER_OK) {
    const unsigned step = image->bits_per_pixel / 8;
    for (uint32_t y = 0; y < image->height; ++y) {
      uint8_t *p = RasterRow(*image, y);
      for (uint32_t x = 0; x < image->width; ++x, p += step) {
        uint8_t lo = p[0], hi = p[0];
        for (int c = 1; c < 3; ++c) {
          if (p[c] < lo) lo = p[c];
          if (p[c] > hi) hi = p[c];
        }
        if (hi - lo > 2) std::memset(p, CreateGrayScale(p), 3);
      }
    }
  }
  SetLastRasterError(code);
  return code;
}

unsigned char AlphaComp(unsigned char foreground, unsigned char alpha, unsigned char background) {
  if (alpha == 0) return background;
  if (alpha == 255) return foreground;
  unsigned t = foreground * alpha + background * (255u - alpha) + 128;
  return static_cast<unsigned char>((t + (t >> 8)) >> 8);
}

unsigned char InverseAlphaComp(unsigned char composite, unsigned char alpha,
                               unsigned char background) {
  if (alpha == 0) return background;
  if (alpha == 255) return composite;
  int q = (composite * 255 - background * (255 - alpha)) / alpha;
  if (q < 0) return 0;
  if (q > 255) return 255;  // no foreground could give this composite
  return static_cast<unsigned char>(q);
}

// ---------------------------------------------------------------- header, swaps

BitmapInfoHeader InternalCreateBMI(uint32_t width, uint32_t height, uint16_t bit_count,
                                   uint32_t compression) {
  uint16_t bits;
  if (bit_count <= 1) bits = 1;
  else if (bit_count <= 4) bits = 4;
  else if (bit_count <= 8) bits = 8;
  else if (bit_count <= 16) bits = 16;
  else if (bit_count <= 24) bits = 24;
  else if (bit_count <= 32) bits = 32;
  else bits = 8;
  BitmapInfoHeader h{};
  h.header_size = 40;
  h.width = static_cast<int32_t>(width);
  h.height = static_cast<int32_t>(height);
  h.planes = 1;
  h.bit_count = bits;
  h.compression = compression;
  h.image_size = (bits * width + 31) / 32 * 4 * height;
  h.colors_used = bits <= 8 ? 1u << bits : 0;
  h.colors_important = h.colors_used;
  return h;
}

int16_t SwapShort(int16_t value) {
  return static_cast<int16_t>(SwapUShort(static_cast<uint16_t>(value)));
}

uint16_t SwapUShort(uint16_t value) {
  return static_cast<uint16_t>(value << 8 | value >> 8);
}

int32_t SwapLong(int32_t value) {
  return static_cast<int32_t>(SwapULong(static_cast<uint32_t>(value)));
}

uint32_t SwapULong(uint32_t value) {
  return value << 24 | (value & 0xFF00) << 8 | (value >> 8 & 0xFF00) | value >> 24;
}

// ---------------------------------------------------------------- last error, background

void SetLastRasterError(int code) { g_raster_state.LastRasterError = code; }

int GetLastRasterError() { return g_raster_state.LastRasterError; }

void GetLastRasterErrorMessage(const char **message) {
  static const char kUnknown[] = "Unknown error code";
  const int code = g_raster_state.LastRasterError;
  *message = code >= 0 && code < kRasterErrorCount ? RasterErrorStrings[code] : kUnknown;
}

void InitBackground() {
  g_raster_state.BackgroundColor[0] = 255;
  g_raster_state.BackgroundColor[1] = 255;
  g_raster_state.BackgroundColor[2] = 255;
  g_raster_state.BackgroundColor[3] = 0;
  InitRasterImage(&g_raster_state.BackgroundImage);
}

uint8_t *GetBackgroundColor() { return g_raster_state.BackgroundColor; }

RasterImage *GetBackgroundImage() { return &g_raster_state.BackgroundImage; }

void SetRasterBackgroundColor(const unsigned char *color) {
  std::memcpy(g_raster_state.BackgroundColor, color, 4);
}

RasterError SetRasterBackgroundImage(RasterImage image) {
  FreeRasterImage(&g_raster_state.BackgroundImage);
  return ConvertPaletteToRGB(image, &g_raster_state.BackgroundImage);
}

}  // namespace tsl
