// The WSQ codec's process-wide state in one place: the records the decoder
// tables, the wavelet trees, the encoder's quantization values and the bit
// reader are made of, and their one instance. Included by every part of the
// codec that reads or writes them (through tables.h, wavelet.h, quantize.h
// and huffman_blocks.h).
#ifndef TESSALY_WSQ_STATE_H
#define TESSALY_WSQ_STATE_H

#include <cstdint>

namespace tsl {

constexpr int MAX_DHT_TABLES = 8;
constexpr int MAX_HUFFBITS = 16;
constexpr int MAX_HUFFCOUNTS_WSQ = 256;
constexpr int MAX_SUBBANDS = 64;
constexpr int NUM_SUBBANDS = 60;
constexpr int W_TREELEN = 20;
constexpr int Q_TREELEN = 64;

struct DttTable {
  float *lofilt;  // synthesis low-pass filter, owned
  float *hifilt;  // synthesis high-pass filter, owned
  uint8_t losize;
  uint8_t hisize;
  uint8_t lofilt_defined;
  uint8_t hifilt_defined;
};

struct DqtTable {
  float bin_centre;
  float q_widths[MAX_SUBBANDS];
  float z_widths[MAX_SUBBANDS];
  uint8_t qtable_defined;
};

struct DhtTable {
  uint8_t table_defined;
  uint8_t huffbits[MAX_HUFFBITS];
  // One entry beyond the 257 a table may hold, so a terminator always fits.
  uint8_t huffvalues[MAX_HUFFCOUNTS_WSQ + 2];
};

struct FrameHeaderWsq {
  uint8_t black;
  uint8_t white;
  uint16_t width;
  uint16_t height;
  float m_shift;
  float r_scale;
  uint8_t wsq_encoder;
  uint16_t software;
};

// One split of a region into low-pass and high-pass halves along rows and
// columns; an inverted direction puts its high-pass half first.
struct WTreeNode {
  int x;
  int y;
  int lenx;
  int leny;
  int inv_rw;
  int inv_cl;
};

// One subband rectangle. Kept as int so that 65535-wide images fit.
struct QTreeEntry {
  int x;
  int y;
  int lenx;
  int leny;
};

// The encoder's quantization values.
struct QuantVals {
  float bit_rate;
  float q_widths[MAX_SUBBANDS];
  float z_widths[MAX_SUBBANDS];
  float variances[MAX_SUBBANDS];
};

// The current byte of entropy-coded data (unread bits only) and the byte
// read after an 0xFF. Refreshed at the start of every block, so nothing from
// an earlier block or decode is ever used.
struct WsqBitReader {
  uint8_t code;
  uint8_t code2;
};

// Zero at load, unlocked: one encode, decode or header peek at a time.
struct WsqState {
  // Decoder tables, filled by the segment readers. Every decode clears the
  // transform, quantization and Huffman tables' defined flags first and
  // releases the filters last; the frame header keeps the last one read.
  DttTable dtt_table;
  DqtTable dqt_table;
  DhtTable dht_table[MAX_DHT_TABLES];
  FrameHeaderWsq frm_header_wsq;
  // Step and subband trees, rebuilt from the image size by every encode and
  // decode.
  WTreeNode w_tree[W_TREELEN];
  QTreeEntry q_tree[Q_TREELEN];
  // Subband rectangles of an image of a crop's size (q_tree2) and of an
  // image whose size is the crop's upper-left corner, that is the crop's
  // offsets inside every subband (q_tree3); rebuilt by every crop.
  QTreeEntry q_tree2[Q_TREELEN];
  QTreeEntry q_tree3[Q_TREELEN];
  // Rewritten by every encode; the quantization table writer reads it.
  QuantVals quant_vals;
  WsqBitReader bit_reader;
};

extern WsqState g_wsq;

// The records under the names the codec's routines use.
inline constexpr DttTable &dtt_table = g_wsq.dtt_table;
inline constexpr DqtTable &dqt_table = g_wsq.dqt_table;
inline constexpr DhtTable (&dht_table)[MAX_DHT_TABLES] = g_wsq.dht_table;
inline constexpr FrameHeaderWsq &frm_header_wsq = g_wsq.frm_header_wsq;
inline constexpr WTreeNode (&w_tree)[W_TREELEN] = g_wsq.w_tree;
inline constexpr QTreeEntry (&q_tree)[Q_TREELEN] = g_wsq.q_tree;
inline constexpr QTreeEntry (&q_tree2)[Q_TREELEN] = g_wsq.q_tree2;
inline constexpr QTreeEntry (&q_tree3)[Q_TREELEN] = g_wsq.q_tree3;
inline constexpr QuantVals &quant_vals = g_wsq.quant_vals;
inline constexpr WsqBitReader &wsq_bit_reader = g_wsq.bit_reader;

}  // namespace tsl

#endif
