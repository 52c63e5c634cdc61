// The entropy-coded block reader (tables, block headers, coded data up to
// the end of the image) on arbitrary bytes, read once through the lookup
// tables and once bit by bit: both must agree in result, coefficients,
// bytes consumed and reader state. The first two bytes choose the
// coefficient array's width and height.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "wsq/huffman_blocks.h"
#include "wsq/tables.h"

using namespace tsl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > (1u << 18)) return 0;
  int width = 1 + data[0] % 64;
  int height = 1 + data[1] % 64;
  size_t n = static_cast<size_t>(width) * height;
  std::vector<uint8_t> stream(data + 2, data + size);
  std::unique_ptr<int16_t[]> coeffs[2];
  int ret[2];
  const uint8_t *cur[2];
  WsqBitReader state[2];
  for (int bitwise = 0; bitwise < 2; bitwise++) {
    frm_header_wsq.width = static_cast<uint16_t>(width);
    frm_header_wsq.height = static_cast<uint16_t>(height);
    dqt_table.qtable_defined = 0;
    for (auto &t : dht_table) t.table_defined = 0;
    wsq_bit_reader = {0, 0};
    coeffs[bitwise].reset(new int16_t[n]());
    cur[bitwise] = stream.data();
    init_wsq_decoder_resources();
    ret[bitwise] = huffman_decode_data_mem(coeffs[bitwise].get(), &dtt_table, &dqt_table,
                                           dht_table, &cur[bitwise],
                                           stream.data() + stream.size(), bitwise != 0);
    free_wsq_decoder_resources();
    state[bitwise] = wsq_bit_reader;
  }
  if (ret[0] != ret[1] || cur[0] != cur[1] || state[0].code != state[1].code ||
      state[0].code2 != state[1].code2 ||
      std::memcmp(coeffs[0].get(), coeffs[1].get(), n * sizeof(int16_t)) != 0)
    std::abort();
  return 0;
}
