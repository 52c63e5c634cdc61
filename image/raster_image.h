// The raster layer's image record, its status codes and last error, and the
// pixel conversions shared by every file reader and writer of image/ and by
// the library interface.
#ifndef TESSALY_IMAGE_RASTER_IMAGE_H
#define TESSALY_IMAGE_RASTER_IMAGE_H

#include <cstddef>
#include <cstdint>

namespace tsl {

// One picture: rows bottom row first, `scan_width` bytes apart.
//   1 bit:  8 palette indices per byte, leftmost pixel in the top bit
//   4 bits: 2 indices per byte, leftmost in the high nibble
//   8 bits: one index per byte
//   16 bits: little-endian 5-5-5 words (blue in the low bits), no palette
//   24 / 32 bits: blue, green, red (, alpha: 255 opaque)
// Palette entries are blue, green, red (, reserved byte written as 0).
struct RasterImage {
  uint32_t width;
  uint32_t height;
  uint8_t bits_per_pixel;
  uint8_t *bits;  // malloc'ed, owned
  uint16_t palette_size;
  uint8_t bytes_per_palette_entry;
  uint8_t *palette;  // malloc'ed, owned; null above 8 bits per pixel
  uint32_t scan_width;
  // Nonzero: rows padded to a multiple of 4 bytes; above 0: 4-byte palette
  // entries.
  int32_t bmp_layout;
  int16_t transparency_index;  // -1: none
};

enum RasterError : int {
  RASTER_OK = 0,
  RASTER_ERR_INVALID_FORMAT = 1,
  RASTER_ERR_INVALID_BPP = 2,
  RASTER_ERR_MEMORY = 3,
  RASTER_ERR_INVALID_SIZE = 4,
  RASTER_ERR_INVALID_HANDLE = 5,
  RASTER_ERR_PLATFORM_API = 6,
  RASTER_ERR_OPEN_FILE = 7,
  RASTER_ERR_UNSUPPORTED_OPTION = 8,
  RASTER_ERR_INVALID_IMAGE = 9,
  RASTER_ERR_UNSUPPORTED_EXTENSION = 10,
  RASTER_ERR_READ = 11,
  RASTER_ERR_WRITE = 12,
  RASTER_ERR_INVALID_GEOTIFF = 13,
  RASTER_ERR_NO_BACKGROUND = 14,
  RASTER_ERR_BACKGROUND_TOO_SMALL = 15,
  RASTER_ERR_CORRUPT_FILE = 16,
};

constexpr int kRasterErrorCount = 17;
extern const char RasterErrorStrings[kRasterErrorCount][128];

// The layer's process-wide state, all zero at load.
struct RasterLayerState {
  int LastRasterError;
  uint8_t BackgroundColor[4];  // blue, green, red, reserved
  RasterImage BackgroundImage;
};
extern RasterLayerState g_raster_state;

// The 40-byte BMP information header.
struct BitmapInfoHeader {
  uint32_t header_size;
  int32_t width;
  int32_t height;
  uint16_t planes;
  uint16_t bit_count;
  uint32_t compression;
  uint32_t image_size;
  int32_t x_pixels_per_meter;
  int32_t y_pixels_per_meter;
  uint32_t colors_used;
  uint32_t colors_important;
};

// --- Sizes: every picture-dependent size of the layer is formed here. ---

// Largest row or pixel block the layer accepts; larger pictures are refused
// with RASTER_ERR_INVALID_SIZE.
constexpr uint64_t kMaxRasterBytes = 0x7FFFFFFF;

// Bytes of one row of `width` pixels of `bits_per_pixel`, rounded up to a
// multiple of 4 when `pad_to_4`. False when the row exceeds kMaxRasterBytes.
bool RasterRowBytes(uint64_t width, unsigned bits_per_pixel, bool pad_to_4, uint32_t *out);
// row_bytes x rows (x planes); false when zero or above kMaxRasterBytes.
bool RasterBlockBytes(uint64_t row_bytes, uint64_t rows, size_t *out);
bool RasterBlockBytes(uint64_t row_bytes, uint64_t rows, uint64_t planes, size_t *out);

// True for 1, 4, 8, 16, 24 and 32.
bool IsRasterDepth(unsigned bits_per_pixel);

// RASTER_OK when `image` describes rows a conversion or writer may read:
// pixel rows present, a supported depth, a nonzero size, rows wide enough
// for their pixels and, at 8 bits or fewer, a palette of 3- or 4-byte
// entries.
RasterError CheckRasterImage(const RasterImage &image);

// --- Record and memory ---

void InitRasterImage(RasterImage *image);
void FreeRasterImage(RasterImage *image);
RasterError AllocateRasterImage(RasterImage *image);
RasterError CopyRasterImage(RasterImage source, RasterImage *copy);
void FreeRasterMemory(unsigned char *buffer);

// --- Pixel helpers shared by the conversions and the writers ---

// First byte of record row `row` (stored order).
inline uint8_t *RasterRow(const RasterImage &image, uint32_t row) {
  return image.bits + static_cast<size_t>(row) * image.scan_width;
}
// Sets palette entry `index` (blue, green, red); an index without an entry
// is ignored.
void SetPaletteEntry(RasterImage *image, unsigned index, uint8_t red, uint8_t green, uint8_t blue);
// The palette entry of `index`, or black when the index has no entry.
const uint8_t *PaletteEntry(const RasterImage &image, unsigned index);
// Record row `row` (stored order) as one palette index per byte, `width`
// bytes. The image is 1, 4 or 8 bits per pixel.
void UnpackIndexRow(const RasterImage &image, uint32_t row, uint8_t *out);
// Stores palette index `index` as pixel x of a 1-, 4- or 8-bit row, keeping
// the row's other pixels; at 1 and 4 bits only its low bits are kept.
void PutIndex(uint8_t *row, uint32_t x, unsigned bits_per_pixel, uint8_t index);
// A 5-5-5 word as blue, green, red, each in the top five bits.
void Expand555(uint16_t word, uint8_t *bgr);
// Every entry has blue = green = red.
bool IsGreyPalette(const RasterImage &image);
// Entry i is exactly (i, i, i) for every entry.
bool IsGreyRamp(const RasterImage &image);

// --- Conversions ---

// `out` is overwritten, not released: pass an empty record.
RasterError ConvertPaletteToRGB(RasterImage source, RasterImage *out);
void Convert1to8(RasterImage source, unsigned char *out);
void Convert4to8(RasterImage source, unsigned char *out);
RasterError Convert16to24(RasterImage *image);  // not stored as last error
RasterError CompressRasterImage(RasterImage *image);
uint8_t CreateGrayScale(const unsigned char *pixel);
RasterError ConvertToGrayScale(RasterImage *image);
RasterError ConvertToPseudoGrayScale(RasterImage *image);
unsigned char AlphaComp(unsigned char foreground, unsigned char alpha, unsigned char background);
unsigned char InverseAlphaComp(unsigned char composite, unsigned char alpha,
                               unsigned char background);

// --- Header builder and byte swaps ---

BitmapInfoHeader InternalCreateBMI(uint32_t width, uint32_t height, uint16_t bit_count,
                                   uint32_t compression);
int16_t SwapShort(int16_t value);
uint16_t SwapUShort(uint16_t value);
int32_t SwapLong(int32_t value);
uint32_t SwapULong(uint32_t value);

// --- Last error and background ---

void SetLastRasterError(int code);
int GetLastRasterError();
void GetLastRasterErrorMessage(const char **message);
void InitBackground();
uint8_t *GetBackgroundColor();
RasterImage *GetBackgroundImage();
void SetRasterBackgroundColor(const unsigned char *color);
RasterError SetRasterBackgroundImage(RasterImage image);

}  // namespace tsl

#endif
