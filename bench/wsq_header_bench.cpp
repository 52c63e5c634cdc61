// Header-only WSQ reads: the cost of peeking at a stream's size and comment.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tessaly.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"

namespace {

std::vector<uint8_t> HeaderStream() {
  std::vector<uint8_t> buf(8192);
  int len = 0;
  const int cap = static_cast<int>(buf.size());
  tsl::putc_ushort(tsl::SOI_WSQ, buf.data(), cap, &len);
  std::string nist = "NIST_COM 9\nPIX_WIDTH 500\nPIX_HEIGHT 500";
  tsl::putc_comment(tsl::COM_WSQ, reinterpret_cast<const uint8_t *>(nist.data()),
                    static_cast<int>(nist.size()), buf.data(), cap, &len);
  const float lo[9] = {0.04f, -0.02f, -0.11f, 0.38f, 0.85f, 0.38f, -0.11f, -0.02f, 0.04f};
  const float hi[7] = {0.06f, -0.04f, -0.42f, 0.79f, -0.42f, -0.04f, 0.06f};
  tsl::putc_transform_table(lo, 9, hi, 7, buf.data(), cap, &len);
  tsl::QuantVals q{};
  for (int i = 0; i < 60; ++i) q.q_widths[i] = q.z_widths[i] = 1.0f + i;
  tsl::putc_quantization_table(&q, buf.data(), cap, &len);
  tsl::putc_frame_header_wsq(500, 500, 128.0f, 1.5f, buf.data(), cap, &len);
  uint8_t bits[16] = {0, 1, 2, 4, 8, 16, 32, 64};
  std::vector<uint8_t> vals(127);
  for (size_t i = 0; i < vals.size(); ++i) vals[i] = static_cast<uint8_t>(i);
  tsl::putc_huffman_table(tsl::DHT_WSQ, 0, bits, vals.data(), buf.data(), cap, &len);
  tsl::putc_block_header(0, buf.data(), cap, &len);
  tsl::putc_ushort(tsl::EOI_WSQ, buf.data(), cap, &len);
  buf.resize(static_cast<size_t>(len));
  return buf;
}

void BM_FastWsqHeader(benchmark::State &state) {
  std::vector<uint8_t> s = HeaderStream();
  for (auto _ : state) {
    int w, h, ppi;
    char *comment = nullptr;
    benchmark::DoNotOptimize(
        Fast_WSQ_decode_stream(s.data(), static_cast<int>(s.size()), &w, &h, &ppi, &comment));
    std::free(comment);
  }
}
BENCHMARK(BM_FastWsqHeader);

}  // namespace
