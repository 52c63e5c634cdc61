// Raster layer: reading BMP, TGA and SGI files of a fingerprint-sized grey
// picture from memory, writing them, and the palette conversion every read
// through the interface goes through.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_support.h"
#include "image/bmp.h"
#include "image/raster_image.h"
#include "image/sgi.h"
#include "image/tga.h"
#include <vector>

namespace {

using namespace tsl;

constexpr uint32_t kWidth = 800, kHeight = 750;

// An 8-bit grey record of a ridge picture, rows padded as the interface
// builds them.
RasterImage GreyRecord() {
  RasterImage r = tslbench::NewRecord(kWidth, kHeight, 8);
  // Ridges with the odd equal neighbour, as in a fingerprint scan.
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x)
      r.bits[static_cast<size_t>(y) * r.scan_width + x] =
          static_cast<uint8_t>(((x + y / 2) / 3 % 4) * 60 + (x * 7 + y * 13) % 11);
  for (int i = 0; i < 256; ++i) std::memset(r.palette + 4 * i, i, 3);
  return r;
}

using Writer = RasterError (*)(const char *, RasterImage);
void ReadFromMemory(benchmark::State &state, Writer write, tslbench::MemoryReader read) {
  RasterImage src = GreyRecord();
  std::string path = "/tmp/tessaly_raster_bench_" + std::to_string(state.range(0));
  write(path.c_str(), src);
  const std::vector<uint8_t> file = tslbench::ReadWholeFile(path);
  std::remove(path.c_str());
  FreeRasterImage(&src);
  tslbench::TimeMemoryRead(state, read, file);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}

void WriteToFile(benchmark::State &state, Writer write) {
  RasterImage src = GreyRecord();
  std::string path = "/tmp/tessaly_raster_bench_w" + std::to_string(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(write(path.c_str(), src));
  std::remove(path.c_str());
  FreeRasterImage(&src);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}

void BM_ReadBMP(benchmark::State &s) { ReadFromMemory(s, WriteBMP, ReadBMPMemory); }
void BM_ReadTGA(benchmark::State &s) { ReadFromMemory(s, WriteTGA, ReadTGAMemory); }
void BM_ReadRGB(benchmark::State &s) { ReadFromMemory(s, WriteRGB, ReadRGBMemory); }
void BM_WriteBMP(benchmark::State &s) { WriteToFile(s, WriteBMP); }
void BM_WriteTGA(benchmark::State &s) { WriteToFile(s, WriteTGA); }
void BM_WriteRGB(benchmark::State &s) { WriteToFile(s, WriteRGB); }

void BM_ConvertPaletteToRGB(benchmark::State &state) {
  RasterImage src = GreyRecord();
  for (auto _ : state) {
    RasterImage out;
    InitRasterImage(&out);
    benchmark::DoNotOptimize(ConvertPaletteToRGB(src, &out));
    FreeRasterImage(&out);
  }
  FreeRasterImage(&src);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
}

BENCHMARK(BM_ReadBMP)->Arg(1);
BENCHMARK(BM_ReadTGA)->Arg(2);
BENCHMARK(BM_ReadRGB)->Arg(3);
BENCHMARK(BM_WriteBMP)->Arg(4);
BENCHMARK(BM_WriteTGA)->Arg(5);
BENCHMARK(BM_WriteRGB)->Arg(6);
BENCHMARK(BM_ConvertPaletteToRGB);

}  // namespace
