// PNG and JPEG: reading and writing a 2000 x 2000 RGB picture through the
// raster layer, and bare libpng and libjpeg doing the same work between an
// RGB buffer and memory, so the layer's overhead shows as the ratio of the
// two. Reads go from memory into a fresh picture each time, as a reader
// must hand out a new one; the layer's writes include storing the file.
#include <benchmark/benchmark.h>

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bench_support.h"
#include "image/jpeg.h"
#include "image/png.h"
#include "image/raster_image.h"

namespace {

using namespace tsl;

constexpr uint32_t kSide = 2000;
constexpr size_t kRowBytes = size_t{kSide} * 3;
constexpr int kQuality = 100;  // what the interface saves with

// Smooth colour ridges with a little noise, as a scanned picture has.
std::vector<uint8_t> Picture() {
  std::vector<uint8_t> rgb(kRowBytes * kSide);
  uint32_t noise = 1;
  for (uint32_t y = 0; y < kSide; ++y)
    for (uint32_t x = 0; x < kSide; ++x)
      for (uint32_t c = 0; c < 3; ++c) {
        noise = noise * 1103515245u + 12345u;
        rgb[y * kRowBytes + 3 * x + c] =
            static_cast<uint8_t>(((x + (c + 1) * y / 2) / 5 % 8) * 28 + (noise >> 28));
      }
  return rgb;
}

// The same picture as a 24-bit record (rows bottom first, blue first).
RasterImage Record(const std::vector<uint8_t> &rgb) {
  RasterImage r = tslbench::NewRecord(kSide, kSide, 24);
  for (uint32_t y = 0; y < kSide; ++y) {
    const uint8_t *s = &rgb[(kSide - 1 - y) * kRowBytes];
    uint8_t *d = r.bits + size_t{y} * r.scan_width;
    for (uint32_t x = 0; x < kSide; ++x) d[3 * x] = s[3 * x + 2], d[3 * x + 1] = s[3 * x + 1], d[3 * x + 2] = s[3 * x];
  }
  return r;
}

// ------------------------------------------------------------- bare libpng

struct Memory {
  const uint8_t *data;
  size_t pos, size;
  std::vector<uint8_t> *out;
};

void PngRead(png_structp png, png_bytep data, size_t n) {
  Memory *m = static_cast<Memory *>(png_get_io_ptr(png));
  if (n > m->size - m->pos) png_error(png, "short");
  std::memcpy(data, m->data + m->pos, n);
  m->pos += n;
}
void PngWrite(png_structp png, png_bytep data, size_t n) {
  std::vector<uint8_t> *out = static_cast<Memory *>(png_get_io_ptr(png))->out;
  out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

bool BarePngRead(Memory *m, png_bytep *rows) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  volatile bool ok = false;
  if (!setjmp(png_jmpbuf(png))) {
    png_set_read_fn(png, m, PngRead);
    png_read_info(png, info);
    png_read_update_info(png, info);
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    ok = true;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return ok;
}

bool BarePngWrite(Memory *m, png_bytep *rows) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  volatile bool ok = false;
  if (!setjmp(png_jmpbuf(png))) {
    png_set_write_fn(png, m, PngWrite, PngFlush);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  return ok;
}

// ------------------------------------------------------------ bare libjpeg

struct JpegFailure {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};
void JpegExit(j_common_ptr c) { std::longjmp(reinterpret_cast<JpegFailure *>(c->err)->jump, 1); }

bool BareJpegRead(const std::vector<uint8_t> &file, uint8_t *rgb) {
  jpeg_decompress_struct c;
  JpegFailure err;
  c.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegExit;
  jpeg_create_decompress(&c);
  volatile bool ok = false;
  if (!setjmp(err.jump)) {
    jpeg_mem_src(&c, file.data(), file.size());
    jpeg_read_header(&c, TRUE);
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height) {
      JSAMPROW row = rgb + size_t{c.output_scanline} * kRowBytes;
      jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    ok = true;
  }
  jpeg_destroy_decompress(&c);
  return ok;
}

bool BareJpegWrite(uint8_t *rgb, unsigned char **out, unsigned long *size) {
  jpeg_compress_struct c;
  JpegFailure err;
  c.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegExit;
  jpeg_create_compress(&c);
  volatile bool ok = false;
  if (!setjmp(err.jump)) {
    jpeg_mem_dest(&c, out, size);
    c.image_width = c.image_height = kSide;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kQuality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
      JSAMPROW row = rgb + size_t{c.next_scanline} * kRowBytes;
      jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    ok = true;
  }
  jpeg_destroy_compress(&c);
  return ok;
}

// ------------------------------------------------------------------ cases

struct Inputs {
  std::vector<uint8_t> rgb = Picture();
  RasterImage record = Record(rgb);
  std::vector<uint8_t> png, jpeg;
  std::string path = "/tmp/tessaly_png_jpeg_bench";
  Inputs() {
    WritePNG(path.c_str(), record);
    png = tslbench::ReadWholeFile(path);
    WriteJPEG(path.c_str(), record, kQuality);
    jpeg = tslbench::ReadWholeFile(path);
    std::remove(path.c_str());
  }
};
Inputs &Shared() {
  static Inputs inputs;
  return inputs;
}

void Pixels(benchmark::State &state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRowBytes * kSide);
}

void ReadThroughLayer(benchmark::State &state, tslbench::MemoryReader read,
                      const std::vector<uint8_t> &file) {
  tslbench::TimeMemoryRead(state, read, file);
  Pixels(state);
}

template <typename Write>
void WriteThroughLayer(benchmark::State &state, Write write) {
  const Inputs &in = Shared();
  for (auto _ : state)
    if (write(in.path.c_str(), in.record) != RASTER_OK) state.SkipWithError("write");
  std::remove(in.path.c_str());
  Pixels(state);
}

void BM_ReadPNG(benchmark::State &state) { ReadThroughLayer(state, ReadPNGMemory, Shared().png); }
void BM_ReadJPEG(benchmark::State &state) { ReadThroughLayer(state, ReadJPEGMemory, Shared().jpeg); }
void BM_WritePNG(benchmark::State &state) { WriteThroughLayer(state, WritePNG); }
void BM_WriteJPEG(benchmark::State &state) {
  WriteThroughLayer(state, [](const char *path, RasterImage r) { return WriteJPEG(path, r, kQuality); });
}

void BM_ReadPNGBareLibpng(benchmark::State &state) {
  const Inputs &in = Shared();
  std::vector<png_bytep> rows(kSide);
  for (auto _ : state) {
    uint8_t *rgb = static_cast<uint8_t *>(std::malloc(kRowBytes * kSide));
    for (uint32_t y = 0; y < kSide; ++y) rows[y] = rgb + y * kRowBytes;
    Memory m{in.png.data(), 0, in.png.size(), nullptr};
    if (!BarePngRead(&m, rows.data())) state.SkipWithError("read");
    std::free(rgb);
  }
  Pixels(state);
}

void BM_WritePNGBareLibpng(benchmark::State &state) {
  Inputs &in = Shared();
  std::vector<png_bytep> rows(kSide);
  for (uint32_t y = 0; y < kSide; ++y) rows[y] = &in.rgb[y * kRowBytes];
  for (auto _ : state) {
    std::vector<uint8_t> out;
    Memory m{nullptr, 0, 0, &out};
    if (!BarePngWrite(&m, rows.data())) state.SkipWithError("write");
  }
  Pixels(state);
}

void BM_ReadJPEGBareLibjpeg(benchmark::State &state) {
  const Inputs &in = Shared();
  for (auto _ : state) {
    uint8_t *rgb = static_cast<uint8_t *>(std::malloc(kRowBytes * kSide));
    if (!BareJpegRead(in.jpeg, rgb)) state.SkipWithError("read");
    std::free(rgb);
  }
  Pixels(state);
}

void BM_WriteJPEGBareLibjpeg(benchmark::State &state) {
  Inputs &in = Shared();
  for (auto _ : state) {
    unsigned char *out = nullptr;
    unsigned long size = 0;
    if (!BareJpegWrite(in.rgb.data(), &out, &size)) state.SkipWithError("write");
    std::free(out);
  }
  Pixels(state);
}

}  // namespace

BENCHMARK(BM_ReadPNG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPNGBareLibpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePNG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePNGBareLibpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadJPEG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadJPEGBareLibjpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteJPEG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteJPEGBareLibjpeg)->Unit(benchmark::kMillisecond);
