// GIF files: giflib reads the records up to the first image and decodes
// it; the image is placed on a record the size of the logical screen, whose
// other pixels hold the background colour, at 1 or 4 bits per pixel when
// its colour table is that small.
#include "image/gif.h"

#include <gif_lib.h>

#include <cstring>
#include <memory>

#include "image/raster_io.h"

namespace tsl {

namespace {

constexpr int kGraphicControl = 0xF9;
constexpr int kGraphicControlSize = 4;  // flags, delay (2), transparent index

// giflib's input callback: hands out what the cursor still holds.
int ReadFromCursor(GifFileType *gif, GifByteType *buffer, int wanted) {
  ByteReader *in = static_cast<ByteReader *>(gif->UserData);
  if (wanted <= 0) return 0;
  const size_t n = static_cast<size_t>(wanted) < in->Left() ? static_cast<size_t>(wanted)
                                                             : in->Left();
  const uint8_t *bytes = nullptr;
  in->Take(n, &bytes);
  if (n) std::memcpy(buffer, bytes, n);
  return static_cast<int>(n);
}

// Owns a giflib handle. DGifCloseFile releases the handle even when it
// fails, so it is called exactly once.
class GifHandle {
 public:
  explicit GifHandle(GifFileType *gif) : gif_(gif) {}
  ~GifHandle() { Close(); }
  GifHandle(const GifHandle &) = delete;
  GifHandle &operator=(const GifHandle &) = delete;
  GifFileType *get() const { return gif_; }
  GifFileType *operator->() const { return gif_; }
  bool IsOpen() const { return gif_ != nullptr; }
  bool Close() {
    if (!gif_) return true;
    int error = 0;
    const bool closed = DGifCloseFile(gif_, &error) == GIF_OK;
    gif_ = nullptr;
    return closed;
  }

 private:
  GifFileType *gif_;
};

// The first image of a file: its descriptor (with its own colour table,
// if any, which the handle owns), its pixels top row first in picture
// order, and the transparent index of the first well-formed graphic
// control block before it (-1 for none).
struct FirstImage {
  GifImageDesc desc{};
  std::unique_ptr<uint8_t, FreeDeleter> pixels;
  int16_t transparent = -1;
};

// Walks the records up to the first image and decodes it, then stops:
// what follows (further frames, the trailer) is never read, so a file cut
// or damaged after its first image still gives that image, and a long
// animation takes no more decoding time or pixel memory than its first
// frame (the file itself is already in memory, whole). A file cut anywhere
// before the end of the first image's data is refused.
RasterError ReadFirstImage(GifFileType *gif, size_t file_size, FirstImage *first) {
  bool control_seen = false;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) != GIF_OK) return RASTER_ERR_INVALID_FORMAT;
    if (type == TERMINATE_RECORD_TYPE) return RASTER_ERR_INVALID_FORMAT;  // no image
    if (type == EXTENSION_RECORD_TYPE) {
      int function = 0;
      GifByteType *block = nullptr;  // length byte, then the data
      if (DGifGetExtension(gif, &function, &block) != GIF_OK) return RASTER_ERR_INVALID_FORMAT;
      if (block && function == kGraphicControl && block[0] >= kGraphicControlSize &&
          !control_seen) {
        control_seen = true;
        first->transparent = (block[1] & 1) ? block[4] : -1;
      }
      // A first block that is already the terminator ends the extension
      // (an empty comment, say): reading on would take the next record's
      // first byte for a block length.
      while (block)
        if (DGifGetExtensionNext(gif, &block) != GIF_OK) return RASTER_ERR_INVALID_FORMAT;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) != GIF_OK) return RASTER_ERR_INVALID_FORMAT;
    const GifImageDesc &desc = gif->Image;
    // More pixels than the file's bytes could code can never be decoded:
    // such an image is refused before its raster is allocated.
    if (desc.Width <= 0 || desc.Height <= 0 ||
        !PictureFitsFile(static_cast<uint32_t>(desc.Width), static_cast<uint32_t>(desc.Height),
                         file_size))
      return RASTER_ERR_INVALID_FORMAT;
    const size_t width = static_cast<size_t>(desc.Width), height = static_cast<size_t>(desc.Height);
    first->pixels.reset(static_cast<uint8_t *>(SafeMalloc(width, height)));
    if (!first->pixels) return RASTER_ERR_INVALID_FORMAT;
    // Interlaced rows come in four passes: every 8th row from row 0, every
    // 8th from row 4, every 4th from row 2, every 2nd from row 1.
    static const size_t kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    const int passes = desc.Interlace ? 4 : 1;
    for (int p = 0; p < passes; ++p) {
      const size_t start = desc.Interlace ? kStart[p] : 0, step = desc.Interlace ? kStep[p] : 1;
      for (size_t y = start; y < height; y += step)
        if (DGifGetLine(gif, first->pixels.get() + y * width, desc.Width) != GIF_OK)
          return RASTER_ERR_INVALID_FORMAT;
    }
    first->desc = desc;
    return RASTER_OK;
  }
}

// A byte holding `index` in every pixel of a row of `bpp` bits per pixel.
uint8_t FillByte(int index, unsigned bpp) {
  if (bpp == 1) return (index & 1) ? 0xFF : 0x00;
  if (bpp == 4) return static_cast<uint8_t>((index & 0x0F) * 0x11);
  return static_cast<uint8_t>(index);
}

RasterError DecodeGif(ByteReader in, RasterImage *image) {
  int error = 0;
  GifHandle gif(DGifOpen(&in, ReadFromCursor, &error));
  if (!gif.IsOpen()) return RASTER_ERR_OPEN_FILE;
  FirstImage first;
  RasterError code = ReadFirstImage(gif.get(), in.Size(), &first);
  if (code != RASTER_OK) return code;
  const GifImageDesc &desc = first.desc;
  // The colour table the first image's indices refer to.
  const ColorMapObject *table = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (!table || !table->Colors || table->ColorCount < 1) return RASTER_ERR_UNSUPPORTED_OPTION;
  const unsigned colors = table->ColorCount < 256 ? static_cast<unsigned>(table->ColorCount) : 256;
  const unsigned bpp = colors <= 2 ? 1 : colors <= 16 ? 4 : 8;
  if (gif->SWidth < 0 || gif->SHeight < 0) return RASTER_ERR_INVALID_SIZE;
  const uint32_t width = static_cast<uint32_t>(gif->SWidth);
  const uint32_t height = static_cast<uint32_t>(gif->SHeight);
  if (!PictureFitsFile(width, height, in.Size())) return RASTER_ERR_INVALID_SIZE;

  code = AllocateForRead(image, width, height, bpp, static_cast<uint16_t>(colors), 0);
  if (code != RASTER_OK) return code;
  image->transparency_index = first.transparent;
  for (unsigned i = 0; i < colors; ++i)
    SetPaletteEntry(image, i, table->Colors[i].Red, table->Colors[i].Green, table->Colors[i].Blue);
  const uint8_t fill = FillByte(gif->SBackGroundColor, bpp);
  if (fill) std::memset(image->bits, fill, static_cast<size_t>(image->scan_width) * height);

  // The image lies at its own place on the screen; what falls outside the
  // screen is dropped.
  const uint32_t left = static_cast<uint32_t>(desc.Left), top = static_cast<uint32_t>(desc.Top);
  const uint32_t image_width = static_cast<uint32_t>(desc.Width);
  uint32_t columns = 0, rows = 0;
  if (desc.Left >= 0 && desc.Top >= 0 && desc.Width > 0 && desc.Height > 0 &&
      left < width && top < height) {
    columns = width - left < image_width ? width - left : image_width;
    rows = height - top < static_cast<uint32_t>(desc.Height) ? height - top
                                                               : static_cast<uint32_t>(desc.Height);
  }
  for (uint32_t k = 0; k < rows; ++k) {
    const uint8_t *src = first.pixels.get() + static_cast<size_t>(k) * image_width;
    uint8_t *dst = RasterRow(*image, RecordRow(height, top + k, true));
    if (bpp == 8) {
      std::memcpy(dst + left, src, columns);
    } else {
      for (uint32_t x = 0; x < columns; ++x) PutIndex(dst, left + x, bpp, src[x]);
    }
  }
  return gif.Close() ? RASTER_OK : RASTER_ERR_INVALID_FORMAT;
}

}  // namespace

RasterError ReadGIF(const char *filename, RasterImage *image) {
  return ReadRasterFile(filename, image, DecodeGif);
}

RasterError ReadGIFMemory(const uint8_t *data, size_t size, RasterImage *image) {
  return ReadRasterMemory(data, size, image, DecodeGif);
}

}  // namespace tsl
