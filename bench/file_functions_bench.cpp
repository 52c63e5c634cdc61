// ReadImageFromFile and SaveImageToFile of a 2000 x 2000 picture in WSQ,
// PNG, TIFF and BMP, each next to the format's stream or raster function
// alone: the difference is what the file layer adds (planes to and from
// records or grey images, whole-file reads and writes).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "image/bmp.h"
#include "image/png.h"
#include "image/raster_image.h"
#include "image/tiff.h"
#include "tessaly.h"

namespace {

using namespace tsl;

constexpr int kSide = 2000;
constexpr size_t kPixels = size_t{kSide} * kSide;

// Ridges in three phases, so the channels differ.
const std::vector<uint8_t> &Planar() {
  static const std::vector<uint8_t> planar = [] {
    std::vector<uint8_t> p(3 * kPixels);
    for (size_t c = 0; c < 3; ++c)
      for (size_t i = 0; i < kPixels; ++i) {
        const size_t x = i % kSide, y = i / kSide;
        p[c * kPixels + i] =
            static_cast<uint8_t>(((x + y / 2 + 3 * c) / 4 % 5) * 50 + (x * 7 + y) % 9);
      }
    return p;
  }();
  return planar;
}

std::vector<uint8_t> Grey() {
  const std::vector<uint8_t> &p = Planar();
  std::vector<uint8_t> grey(kPixels);
  for (size_t i = 0; i < kPixels; ++i)
    grey[i] = static_cast<uint8_t>((p[i] + p[kPixels + i] + p[2 * kPixels + i]) / 3);
  return grey;
}

std::string Path(const char *ext) { return std::string("/tmp/tessaly_file_bench.") + ext; }

// The picture as the raster road builds it: 24 bits, padded rows.
struct Record24 {
  RasterImage image;
  Record24() : image(tslbench::NewRecord(kSide, kSide, 24)) {
    const std::vector<uint8_t> &p = Planar();
    for (size_t y = 0; y < kSide; ++y)
      for (size_t x = 0; x < kSide; ++x)
        for (size_t c = 0; c < 3; ++c)
          RasterRow(image, static_cast<uint32_t>(kSide - 1 - y))[3 * x + c] =
              p[(2 - c) * kPixels + y * kSide + x];
  }
  ~Record24() { FreeRasterImage(&image); }
};

// ---- through the file functions

void SaveFile(benchmark::State &state, int format, const char *ext) {
  const std::string path = Path(ext);
  for (auto _ : state)
    benchmark::DoNotOptimize(SaveImageToFile(path.c_str(), format, kSide, kSide, Planar().data()));
}

void ReadFile(benchmark::State &state, int format, const char *ext) {
  const std::string path = Path(ext);
  SaveImageToFile(path.c_str(), format, kSide, kSide, Planar().data());
  int w, h;
  unsigned char *data;
  for (auto _ : state) benchmark::DoNotOptimize(ReadImageFromFile(path.c_str(), &w, &h, &data));
  std::remove(path.c_str());
}

// ---- the format alone

void WsqEncodeAlone(benchmark::State &state) {
  const std::vector<uint8_t> grey = Grey();
  for (auto _ : state) {
    unsigned char *out = nullptr;
    int length = 0;
    benchmark::DoNotOptimize(WSQ_encode_stream(grey.data(), kSide, kSide, 0.75, 500, "", &out,
                                               &length));
    std::free(out);
  }
}

void WsqDecodeAlone(benchmark::State &state) {
  const std::string path = Path("wsq");
  SaveImageToFile(path.c_str(), 1, kSide, kSide, Planar().data());
  const std::vector<uint8_t> stream = tslbench::ReadWholeFile(path);
  std::remove(path.c_str());
  for (auto _ : state) {
    unsigned char *grey = nullptr;
    char *comment = nullptr;
    int w, h, ppi;
    benchmark::DoNotOptimize(WSQ_decode_stream(stream.data(), static_cast<int>(stream.size()),
                                               &grey, &w, &h, &ppi, &comment));
    std::free(grey);
    std::free(comment);
  }
}

using Writer = RasterError (*)(const char *, const RasterImage &);

void WriteAlone(benchmark::State &state, Writer write, const char *ext) {
  Record24 record;
  const std::string path = Path(ext);
  for (auto _ : state) benchmark::DoNotOptimize(write(path.c_str(), record.image));
  std::remove(path.c_str());
}

using Reader = RasterError (*)(const char *, RasterImage *);

void ReadAlone(benchmark::State &state, Reader read, int format, const char *ext) {
  const std::string path = Path(ext);
  SaveImageToFile(path.c_str(), format, kSide, kSide, Planar().data());
  for (auto _ : state) {
    RasterImage r;
    InitRasterImage(&r);
    r.bmp_layout = 1;
    benchmark::DoNotOptimize(read(path.c_str(), &r));
    FreeRasterImage(&r);
  }
  std::remove(path.c_str());
}

RasterError WriteBmp(const char *f, const RasterImage &i) { return WriteBMP(f, i); }
RasterError WritePng(const char *f, const RasterImage &i) { return WritePNG(f, i); }
RasterError WriteTif(const char *f, const RasterImage &i) { return WriteTIFF(f, i, nullptr); }
RasterError ReadTif(const char *f, RasterImage *i) { return ReadTIFF(f, i, nullptr); }

void BM_SaveImageToFile_WSQ(benchmark::State &s) { SaveFile(s, 1, "wsq"); }
void BM_WSQ_encode_stream_Alone(benchmark::State &s) { WsqEncodeAlone(s); }
void BM_ReadImageFromFile_WSQ(benchmark::State &s) { ReadFile(s, 1, "wsq"); }
void BM_WSQ_decode_stream_Alone(benchmark::State &s) { WsqDecodeAlone(s); }
void BM_SaveImageToFile_PNG(benchmark::State &s) { SaveFile(s, 4, "png"); }
void BM_WritePNGFileAlone(benchmark::State &s) { WriteAlone(s, WritePng, "png"); }
void BM_ReadImageFromFile_PNG(benchmark::State &s) { ReadFile(s, 4, "png"); }
void BM_ReadPNGFileAlone(benchmark::State &s) { ReadAlone(s, ReadPNG, 4, "png"); }
void BM_SaveImageToFile_TIFF(benchmark::State &s) { SaveFile(s, 3, "tif"); }
void BM_WriteTIFFFileAlone(benchmark::State &s) { WriteAlone(s, WriteTif, "tif"); }
void BM_ReadImageFromFile_TIFF(benchmark::State &s) { ReadFile(s, 3, "tif"); }
void BM_ReadTIFFFileAlone(benchmark::State &s) { ReadAlone(s, ReadTif, 3, "tif"); }
void BM_SaveImageToFile_BMP(benchmark::State &s) { SaveFile(s, 2, "bmp"); }
void BM_WriteBMPFileAlone(benchmark::State &s) { WriteAlone(s, WriteBmp, "bmp"); }
void BM_ReadImageFromFile_BMP(benchmark::State &s) { ReadFile(s, 2, "bmp"); }
void BM_ReadBMPFileAlone(benchmark::State &s) { ReadAlone(s, ReadBMP, 2, "bmp"); }

}  // namespace

BENCHMARK(BM_SaveImageToFile_WSQ)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WSQ_encode_stream_Alone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadImageFromFile_WSQ)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WSQ_decode_stream_Alone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveImageToFile_PNG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePNGFileAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadImageFromFile_PNG)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPNGFileAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveImageToFile_TIFF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteTIFFFileAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadImageFromFile_TIFF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTIFFFileAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveImageToFile_BMP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteBMPFileAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadImageFromFile_BMP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBMPFileAlone)->Unit(benchmark::kMillisecond);
