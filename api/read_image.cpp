// ReadImageFromFile: any supported file to a planar RGB buffer that the
// library keeps, one per reading path, chosen by the name's extension.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "api/image_file.h"
#include "api/planar.h"
#include "api/settings.h"
#include "api/whole_file.h"
#include "common/checked.h"
#include "image/raster_io.h"
#include "image/reader_choice.h"
#include "image/tiff.h"
#include "nist/type8.h"
#include "tessaly.h"
#include "wsq/codec.h"
#include "wsq/header_walk.h"

namespace tsl {

namespace {

using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

// The caller's outputs.
struct Outputs {
  int *width;
  int *height;
  unsigned char **data;

  int Done(unsigned char *planes, int w, int h) const {
    *width = w;
    *height = h;
    *data = planes;
    return 1;
  }
  int Refuse(int code) const {
    *width = 0;
    *height = 0;
    *data = nullptr;
    return code;
  }
};

// Releases the path's old result and puts a new planar buffer for w x h
// pixels in its place; n is the pixel count. The sizes are checked first.
int NewPlanes(int w, int h, unsigned char **slot, size_t *n) {
  size_t bytes;
  if (!ImageBytes(w, h, 3, &bytes)) return kFileBadSize;
  std::free(*slot);
  *slot = static_cast<unsigned char *>(std::malloc(bytes));
  if (!*slot) return kFileNoMemory;
  *n = bytes / 3;
  return 0;
}

void GreyToPlanes(const unsigned char *grey, size_t n, unsigned char *planes) {
  for (int c = 0; c < 3; ++c) std::memcpy(planes + c * n, grey, n);
}

int ReadWhole(const char *name, Buffer *file, int *length) {
  unsigned char *bytes = nullptr;
  const int code = read_raw_from_filesize(name, &bytes, length);
  file->reset(bytes);
  return code;
}

int ReadWsq(const char *name, const Outputs &out) {
  Buffer file;
  int length = 0;
  int code = ReadWhole(name, &file, &length);
  if (code) return out.Refuse(code);
  g_settings.wsqencoder = 0;
  g_settings.wsqsoftware = 0;
  uint8_t *decoded = nullptr;
  int w = 0, h = 0, depth, ppi = -1, lossy;
  code = wsq_decode_mem(&decoded, &w, &h, &depth, &ppi, &lossy, &g_settings.wsqencoder,
                        &g_settings.wsqsoftware, file.get(), length);
  Buffer grey(decoded);
  if (code) return out.Refuse(code);
  // Planes first: a picture that cannot be handed out changes no setting.
  size_t bytes;
  if (!ImageBytes(w, h, 3, &bytes)) return out.Refuse(kFileBadSize);
  Buffer planes(static_cast<unsigned char *>(std::malloc(bytes)));
  if (!planes) return out.Refuse(kFileNoMemory);
  // The last comment before the first block becomes the stored one; a
  // comment that cannot be read leaves none (never a released pointer).
  code = rescan_wsq_comment(file.get(), length, &g_settings.comment_text);
  if (code) return code;
  GreyToPlanes(grey.get(), bytes / 3, planes.get());
  std::free(g_read_results.wsq_decoded_data_color);
  g_read_results.wsq_decoded_data_color = planes.release();
  g_settings.wsq_ppi = ppi;
  return out.Done(g_read_results.wsq_decoded_data_color, w, h);
}

using StreamDecoder = int (*)(const unsigned char *, int, unsigned char **, int *, int *);

// JPEG 2000 and PBM/PGM/PPM: the decoder replaces the path's result itself.
int ReadStream(const char *name, StreamDecoder decode, unsigned char **slot,
               const Outputs &out) {
  Buffer file;
  int length = 0;
  int code = ReadWhole(name, &file, &length);
  if (code) return out.Refuse(code);
  int w = 0, h = 0;
  code = decode(file.get(), length, slot, &w, &h);
  if (code) return out.Refuse(code);
  size_t bytes;
  if (!ImageBytes(w, h, 3, &bytes)) return out.Refuse(kFileBadSize);
  return out.Done(*slot, w, h);
}

int ReadType8(const char *name, const Outputs &out) {
  const int w = g_settings.type8_width_internal, h = g_settings.type8_height_internal;
  const int compression = g_settings.type8_compression_type_internal;
  size_t bytes;
  if (!ImageBytes(w, h, 3, &bytes)) return out.Refuse(kFileBadSize);
  if (compression != 0 && compression != 1) return out.Refuse(kFileType8Failed);
  Buffer file;
  int length = 0;
  int code = ReadWhole(name, &file, &length);
  if (code) return out.Refuse(code);
  // The reader's image stays the Type-8 module's. Data that gives not one
  // whole row at these sizes is no picture of them, only fill; a picture
  // cut short keeps its rows, with a warning (the Group 4 reader's own).
  if (compression == 0) {
    const size_t bits = static_cast<size_t>(length) * 8;
    if (bits < static_cast<size_t>(w)) return out.Refuse(kFileType8Failed);
    // The stored layout: each row's whole bytes, then the last row's
    // remaining width mod 8 pixels.
    const size_t r = static_cast<size_t>(w % 8);
    const size_t layout_bits = (static_cast<size_t>(w) - r) * static_cast<size_t>(h) + r;
    if (bits < layout_bits)
      std::fprintf(stderr, "WARNING : ReadImageFromFile : Type-8 data ends after %d of %zu bytes\n",
                   length, (layout_bits + 7) / 8);
  }
  int rows = h;
  const unsigned char *grey =
      compression == 0 ? CreateImageFromNISTType8UncompressedBinaryField(file.get(), length, w, h)
                       : ReadType8Group4(file.get(), length, w, h, &rows);
  if (!grey || rows == 0) return out.Refuse(kFileType8Failed);
  size_t n;
  code = NewPlanes(w, h, &g_read_results.type8_decoded_data_color, &n);
  if (code) return out.Refuse(code);
  GreyToPlanes(grey, n, g_read_results.type8_decoded_data_color);
  return out.Done(g_read_results.type8_decoded_data_color, w, h);
}

// The record's rows (bottom row first) into the planes (top row first).
// 32-bit pixels (alpha, or a transparent palette index) lose the alpha.
void RecordToPlanes(const RasterImage &image, unsigned char *planes, size_t n) {
  const size_t w = image.width;
  for (uint32_t y = 0; y < image.height; ++y) {
    const uint8_t *src = RasterRow(image, image.height - 1 - y);
    unsigned char *r = planes + y * w, *g = r + n, *b = g + n;
    if (image.bits_per_pixel == 24) {
      SplitBgrRow(src, w, r, g, b);
      continue;
    }
    for (size_t x = 0; x < w; ++x, src += 4) {
      b[x] = src[0];
      g[x] = src[1];
      r[x] = src[2];
    }
  }
}

int ReadRaster(const char *name, bool tiff, const Outputs &out) {
  OwnedRecord source, converted;
  source.image.bmp_layout = 1;
  converted.image.bmp_layout = 1;
  RasterError code;
  if (tiff) {
    // Fields the reader does not reach take the values at load; the stored
    // options change only when the whole read succeeds.
    TIFFOptions options = {TIFF_COMPRESS_NONE, 0, TIFF_ORIENT_TOP_LEFT, 2};
    code = ReadTIFF(name, &source.image, &options);
    if (code == RASTER_OK) {
      g_settings.compression = options.compression;
      g_settings.photometric = options.photometric;
      g_settings.orientation = options.orientation;
      g_settings.predictor = options.predictor;
    }
  } else {
    code = GetDataFromFile(name, &source.image, nullptr);
  }
  if (code != RASTER_OK) return out.Refuse(kFileRasterReadFailed);

  // Direct colour as it is; palettes and 5-5-5 words converted.
  const RasterImage *rgb = &source.image;
  const unsigned depth = source.image.bits_per_pixel;
  if (depth == 24 || depth == 32) {
    code = CheckRasterImage(source.image);
  } else {
    code = ConvertPaletteToRGB(source.image, &converted.image);
    rgb = &converted.image;
  }
  if (code != RASTER_OK)
    return out.Refuse(code == RASTER_ERR_MEMORY ? kFileNoMemory : kFileRasterReadFailed);
  if (rgb->bits_per_pixel != 24 && rgb->bits_per_pixel != 32) {
    std::fprintf(stderr, "ERROR: image depth = %d not 8 or 24\n", rgb->bits_per_pixel);
    return out.Refuse(kFileRasterReadFailed);
  }
  if (rgb->width > INT32_MAX || rgb->height > INT32_MAX) return out.Refuse(kFileBadSize);
  const int w = static_cast<int>(rgb->width), h = static_cast<int>(rgb->height);
  size_t n;
  const int planes_code = NewPlanes(w, h, &g_read_results.raster_decoded_data, &n);
  if (planes_code) return out.Refuse(planes_code);
  RecordToPlanes(*rgb, g_read_results.raster_decoded_data, n);
  return out.Done(g_read_results.raster_decoded_data, w, h);
}

int Jp2Decode(const unsigned char *d, int n, unsigned char **o, int *w, int *h) {
  return JPEG2000_decode_stream(d, n, o, w, h, "jp2");
}
int JpcDecode(const unsigned char *d, int n, unsigned char **o, int *w, int *h) {
  return JPEG2000_decode_stream(d, n, o, w, h, "jpc");
}

int ReadByKey(const char *name, const char *key, const Outputs &out) {
  ReadResults &r = g_read_results;
  if (std::strcmp(key, "WSQ") == 0) return ReadWsq(name, out);
  if (std::strcmp(key, "JP2") == 0) return ReadStream(name, Jp2Decode, &r.jp2_decoded_data, out);
  if (std::strcmp(key, "JPC") == 0) return ReadStream(name, JpcDecode, &r.jpc_decoded_data, out);
  if (std::strcmp(key, "PBM") == 0)
    return ReadStream(name, PBM_decode_stream, &r.pbm_decoded_data, out);
  if (std::strcmp(key, "PGM") == 0)
    return ReadStream(name, PGM_decode_stream, &r.pgm_decoded_data, out);
  if (std::strcmp(key, "PPM") == 0)
    return ReadStream(name, PPM_decode_stream, &r.ppm_decoded_data, out);
  if (std::strcmp(key, "BIN") == 0) return ReadType8(name, out);
  return ReadRaster(name, std::strcmp(key, "TIF") == 0, out);
}

}  // namespace

}  // namespace tsl

extern "C" TESSALY_API int ReadImageFromFile(const char *filename, int *width, int *height,
                                             unsigned char **data) {
  tsl::SetLastRasterError(tsl::RASTER_OK);
  if (!filename || !width || !height || !data) return tsl::kFileBadArgument;
  char key[4];
  if (!tsl::ExtensionKey(filename, key)) return 8;
  const int code = tsl::ReadByKey(filename, key, tsl::Outputs{width, height, data});
  tsl::SetLastRasterError(tsl::RASTER_OK);
  return code;
}
