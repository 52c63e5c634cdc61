// Marker segments of lossless JPEG streams (Huffman-coded, frame marker
// SOF3): the JFIF header, frame and scan headers, Huffman table records
// read from DHT segments or generated from symbol counts, and comment and
// NISTCOM segments. Built on the WSQ byte cursor, output buffer, comment
// segments and Huffman code builders; no exported function reaches them.
#ifndef TESSALY_WSQ_JPEGL_H
#define TESSALY_WSQ_JPEGL_H

#include <cstdint>

#include "wsq/huffman.h"
#include "wsq/nistcom.h"

namespace tsl {

constexpr uint16_t SOI_JPEGL = 0xFFD8;
constexpr uint16_t APP0_JPEGL = 0xFFE0;
constexpr uint16_t SOF3_JPEGL = 0xFFC3;
constexpr uint16_t DHT_JPEGL = 0xFFC4;
constexpr uint16_t SOS_JPEGL = 0xFFDA;
constexpr uint16_t COM_JPEGL = 0xFFFE;

// Marker classes of getc_marker_jpegl besides SOI_JPEGL and APP0_JPEGL.
constexpr int TBLS_N_SOF_JPEGL = 2;
constexpr int TBLS_N_SOS_JPEGL = 3;
constexpr int ANY_JPEGL = 0xFFFF;

// Components a frame or scan header holds.
constexpr int MAX_CMPNTS = 4;
// Symbols of a lossless table (the reserved one is index 16), table slots
// and the id of the first slot.
constexpr int MAX_HUFFCOUNTS_JPEGL = 16;
constexpr int MAX_HUFFTABLES_JPEGL = 4;
constexpr int kFirstTableIdJpegl = 16;

// Code shared by the readers, set-up routines, writers and NISTCOM fields
// for a component count, component number, size or sampling factor that
// the records cannot hold.
constexpr int kJpeglOutOfRange = -13;

struct JfifHeader {
  uint16_t ver;  // high byte major, low byte minor
  char ident[5];  // "JFIF" and a zero byte
  uint8_t units;
  uint16_t dx;
  uint16_t dy;
  uint8_t tx;
  uint8_t ty;
};

struct FrameHeaderJpegl {
  uint8_t prec;  // P, sample precision
  uint16_t x;    // X, width
  uint16_t y;    // Y, height
  uint8_t Nf;
  uint8_t C[MAX_CMPNTS];
  uint8_t HV[MAX_CMPNTS];  // horizontal factor in the high 4 bits
  uint8_t Tq[MAX_CMPNTS];
};

struct ScanHeader {
  uint8_t Ns;
  uint8_t Cs[MAX_CMPNTS];
  uint8_t Tda[MAX_CMPNTS];  // high 4 bits when set up, low 4 bits when read
  uint8_t Ss;               // predictor
  uint8_t Se;
  uint8_t Ahl;              // point transform
};

// What the set-up routines take from the image being coded.
struct JpeglImage {
  int width;
  int height;
  int intrlv;  // non-zero: all components in one scan
  int num_cmpnts;
  int cmpnt_depth;
  int hor_sampfctr[MAX_CMPNTS];
  int vrt_sampfctr[MAX_CMPNTS];
  uint8_t point_trans[MAX_CMPNTS];
  uint8_t predict[MAX_CMPNTS];
};

// One lossless Huffman table; every array is malloc'ed and owned.
struct HUFF_TABLE {
  uint8_t def;          // 1 when read from a stream
  uint8_t table_id;     // 16 to 19
  uint8_t *huffbits;    // length counts (16 read, kHuffbitsSlots generated)
  uint8_t *huffvalues;  // symbols in code order
  int last_size;        // number of codes
  int *codesize;        // per symbol, generated tables
  uint32_t *freq;       // 17 counts, the input of generation
  int *maxcode;         // decoder lookup, kDecodeTableLen entries each
  int *mincode;
  int *valptr;
  HuffCode *huffcode_table;  // code by symbol
};

// Reads a marker and stores it when it belongs to the class.
int getc_marker_jpegl(uint16_t *omarker, int type, const uint8_t **cbufptr,
                      const uint8_t *ebufptr);

// JFIF APP0 header. dx or dy -1 means no density (units, dx, dy 0).
int setup_jfif_header(JfifHeader **ojfif_header, uint8_t units, int dx, int dy);
// Reads the APP0 segment after its marker; the cursor ends after the whole
// segment as its length gives it.
int getc_jfif_header(JfifHeader **ojfif_header, const uint8_t **cbufptr,
                     const uint8_t *ebufptr);
int putc_jfif_header(const JfifHeader *jfif_header, uint8_t *odata, int oalloc, int *olen);

// DHT (into a new record in slot id - 16) or COM (dropped) after its marker.
int getc_table_jpegl(uint16_t marker, HUFF_TABLE **huff_table, const uint8_t **cbufptr,
                     const uint8_t *ebufptr);
int getc_huffman_table_jpegl(HUFF_TABLE **huff_table, const uint8_t **cbufptr,
                             const uint8_t *ebufptr);

int setup_frame_header_jpegl(FrameHeaderJpegl **ofrm_header, const JpeglImage *img);
int getc_frame_header_jpegl(FrameHeaderJpegl **ofrm_header, const uint8_t **cbufptr,
                            const uint8_t *ebufptr);
int putc_frame_header_jpegl(const FrameHeaderJpegl *frm_header, uint8_t *odata, int oalloc,
                            int *olen);

int setup_scan_header(ScanHeader **oscn_header, const JpeglImage *img, int cmpnt_i);
int getc_scan_header(ScanHeader **oscn_header, const uint8_t **cbufptr, const uint8_t *ebufptr);
int putc_scan_header(const ScanHeader *scn_header, uint8_t *odata, int oalloc, int *olen);

// A new malloc'ed stream with the comment after SOI, the JFIF header and
// the comments that directly follow them.
int add_comment_jpegl(uint8_t **ostream, int *olen, const uint8_t *idata, int ilen,
                      const char *comment);
// The first NISTCOM comment before SOS, parsed, or null.
int getc_nistcom_jpegl(FET **onistcom, const uint8_t *idata, int ilen);
// The NISTCOM comment segment (and a second one holding a caller text that
// is not NISTCOM).
int putc_nistcom_jpegl(const char *comment_text, int w, int h, int d, int ppi, int lossyflag,
                       int num_cmpnts, const int *hor_sampfctr, const int *vrt_sampfctr,
                       int predict, uint8_t *odata, int oalloc, int *olen);

// Codes of each record from its counts (freq, 17 entries), ids 16 + i.
int gen_huff_tables(HUFF_TABLE **tables, int num_tables);
void free_HUFF_TABLE(HUFF_TABLE *huff_table);
void free_HUFF_TABLES(HUFF_TABLE **huff_table, int num_tables);

}  // namespace tsl

#endif
