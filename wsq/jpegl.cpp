#include "wsq/jpegl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "common/checked.h"
#include "wsq/nistcom_edit.h"
#include "wsq/stream_edit.h"
#include "wsq/stream_io.h"
#include "wsq/tables.h"

namespace tsl {

namespace {

template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;
using OwnedTable = std::unique_ptr<HUFF_TABLE, void (*)(HUFF_TABLE *)>;

constexpr char kJfifIdent[5] = {'J', 'F', 'I', 'F', '\0'};
// Length of the APP0 segment this layer writes: the length field, the
// identifier, version, units, two densities and two thumbnail sizes.
constexpr uint16_t kJfifLength = 16;
// A DHT table holding more values than symbols has a code the code list
// cannot hold.
constexpr int kTooManyValues = -9;

const uint8_t *StreamEnd(const uint8_t *idata, int ilen) {
  return idata + (idata != nullptr && ilen > 0 ? ilen : 0);
}

bool ComponentsFit(int n) { return n >= 1 && n <= MAX_CMPNTS; }

int OutOfRange(const char *routine, const char *what, int value) {
  fprintf(stderr, "ERROR : %s : %s %d out of range\n", routine, what, value);
  return kJpeglOutOfRange;
}

template <typename T>
int NewRecord(T **out, const char *routine, const char *what) {
  *out = static_cast<T *>(std::calloc(1, sizeof(T)));
  if (*out == nullptr) {
    fprintf(stderr, "ERROR : %s : %s\n", routine, what);
    return -2;
  }
  return 0;
}

int PutBytes(const uint8_t *bytes, int n, uint8_t *odata, int oalloc, int *olen) {
  for (int i = 0; i < n; ++i) {
    int ret = putc_byte(bytes[i], odata, oalloc, olen);
    if (ret) return ret;
  }
  return 0;
}

}  // namespace

int getc_marker_jpegl(uint16_t *omarker, int type, const uint8_t **cbufptr,
                      const uint8_t *ebufptr) {
  uint16_t marker;
  int ret = getc_ushort(&marker, cbufptr, ebufptr);
  if (ret) return ret;
  switch (type) {
    case TBLS_N_SOF_JPEGL:
      if (marker != DHT_JPEGL && marker != COM_JPEGL && marker != SOF3_JPEGL) {
        fprintf(stderr, "ERROR : getc_marker_jpegl : No DHT, COM, or SOF3 markers.\n");
        return -4;
      }
      break;
    case TBLS_N_SOS_JPEGL:
      if (marker != DHT_JPEGL && marker != COM_JPEGL && marker != SOS_JPEGL) {
        fprintf(stderr, "ERROR : getc_marker_jpegl : No DHT, COM, or SOS markers.\n");
        return -5;
      }
      break;
    case SOI_JPEGL:
      if (marker != SOI_JPEGL) {
        fprintf(stderr, "ERROR : getc_marker_jpegl : No SOI marker. {%d}\n", marker);
        return -2;
      }
      break;
    case APP0_JPEGL:
      if (marker != APP0_JPEGL) {
        fprintf(stderr, "ERROR : getc_marker_jpegl : No APP0 (JFIF) marker. {%d}\n", marker);
        return -3;
      }
      break;
    case ANY_JPEGL:
      if ((marker & 0xFF00) != 0xFF00) {
        fprintf(stderr, "ERROR : getc_marker_jpegl : no marker found {%04X}\n", marker);
        return -6;
      }
      break;
    default:
      fprintf(stderr, "ERROR : getc_marker_jpegl : Invalid marker -> {%4X}\n", marker);
      return -6;
  }
  *omarker = marker;
  return 0;
}

int setup_jfif_header(JfifHeader **ojfif_header, uint8_t units, int dx, int dy) {
  const bool no_density = dx == -1 || dy == -1;
  // Densities are 16-bit fields: larger ones would be written cut.
  if (!no_density && (dx < 0 || dx > 0xFFFF))
    return OutOfRange("setup_jfif_header", "density", dx);
  if (!no_density && (dy < 0 || dy > 0xFFFF))
    return OutOfRange("setup_jfif_header", "density", dy);
  JfifHeader *hdr;
  int ret = NewRecord(&hdr, "setup_jfif_header", "calloc : jfif_header");
  if (ret) return ret;
  std::memcpy(hdr->ident, kJfifIdent, sizeof kJfifIdent);
  hdr->ver = 0x0102;
  if (!no_density) {
    hdr->units = units;
    hdr->dx = static_cast<uint16_t>(dx);
    hdr->dy = static_cast<uint16_t>(dy);
  }
  *ojfif_header = hdr;
  return 0;
}

int getc_jfif_header(JfifHeader **ojfif_header, const uint8_t **cbufptr,
                     const uint8_t *ebufptr) {
  JfifHeader *raw;
  int ret = NewRecord(&raw, "getc_jfif_header", "malloc : jfif_header");
  if (ret) return ret;
  Owned<JfifHeader> hdr(raw);
  uint16_t length;
  if (getc_ushort(&length, cbufptr, ebufptr)) return -3;
  if (length < kJfifLength) {
    fprintf(stderr, "ERROR : getc_jfif_header : APP0 length %d too short\n", length);
    return kJpeglOutOfRange;
  }
  const uint8_t *segment = *cbufptr;
  const size_t body = static_cast<size_t>(length) - 2;
  uint8_t *ident = reinterpret_cast<uint8_t *>(hdr->ident);
  if (getc_bytes(&ident, sizeof kJfifIdent, cbufptr, ebufptr)) return -4;
  if (std::memcmp(hdr->ident, kJfifIdent, sizeof kJfifIdent) != 0) {
    fprintf(stderr, "ERROR : getc_jfif_header : Not a JFIF Header\n");
    return -5;
  }
  if (getc_ushort(&hdr->ver, cbufptr, ebufptr)) return -6;
  if (getc_byte(&hdr->units, cbufptr, ebufptr)) return -7;
  if (getc_ushort(&hdr->dx, cbufptr, ebufptr)) return -8;
  if (getc_ushort(&hdr->dy, cbufptr, ebufptr)) return -9;
  if (getc_byte(&hdr->tx, cbufptr, ebufptr)) return -10;
  if (getc_byte(&hdr->ty, cbufptr, ebufptr)) return -11;
  if (hdr->tx != 0 || hdr->ty != 0) {
    fprintf(stderr, "ERROR : getc_jfif_header : Can't handle thumbnails\n");
    return -12;
  }
  // Bytes the segment holds beyond the fields are passed over with it.
  if (body > static_cast<size_t>(ebufptr - segment)) {
    fprintf(stderr, "ERROR : getc_jfif_header : APP0 length %d passes the end of the buffer\n",
            length);
    return kJpeglOutOfRange;
  }
  *cbufptr = segment + body;
  *ojfif_header = hdr.release();
  return 0;
}

int putc_jfif_header(const JfifHeader *jfif_header, uint8_t *odata, int oalloc, int *olen) {
  if (std::memcmp(jfif_header->ident, kJfifIdent, sizeof kJfifIdent) != 0) {
    fprintf(stderr, "ERROR : putc_jfif_header : Not a JFIF Header\n");
    return -2;
  }
  if (jfif_header->tx != 0 || jfif_header->ty != 0) {
    fprintf(stderr, "ERROR : putc_jfif_header : Can't handle thumbnails\n");
    return -3;
  }
  int ret = putc_ushort(APP0_JPEGL, odata, oalloc, olen);
  if (ret) return ret;
  if ((ret = putc_ushort(kJfifLength, odata, oalloc, olen))) return ret;
  if ((ret = PutBytes(reinterpret_cast<const uint8_t *>(jfif_header->ident), sizeof kJfifIdent,
                      odata, oalloc, olen)))
    return ret;
  if ((ret = putc_ushort(jfif_header->ver, odata, oalloc, olen))) return ret;
  if ((ret = putc_byte(jfif_header->units, odata, oalloc, olen))) return ret;
  if ((ret = putc_ushort(jfif_header->dx, odata, oalloc, olen))) return ret;
  if ((ret = putc_ushort(jfif_header->dy, odata, oalloc, olen))) return ret;
  if ((ret = putc_byte(jfif_header->tx, odata, oalloc, olen))) return ret;
  return putc_byte(jfif_header->ty, odata, oalloc, olen);
}

int getc_table_jpegl(uint16_t marker, HUFF_TABLE **huff_table, const uint8_t **cbufptr,
                     const uint8_t *ebufptr) {
  switch (marker) {
    case DHT_JPEGL:
      return getc_huffman_table_jpegl(huff_table, cbufptr, ebufptr);
    case COM_JPEGL: {
      char *comment = nullptr;
      int ret = getc_comment(&comment, cbufptr, ebufptr);
      std::free(comment);
      return ret;
    }
    default:
      fprintf(stderr, "ERROR: getc_table_jpegl : Invalid table defined -> {%u}\n", marker);
      return -2;
  }
}

int getc_huffman_table_jpegl(HUFF_TABLE **huff_table, const uint8_t **cbufptr,
                             const uint8_t *ebufptr) {
  OwnedTable table(static_cast<HUFF_TABLE *>(std::calloc(1, sizeof(HUFF_TABLE))),
                   free_HUFF_TABLE);
  if (!table) {
    fprintf(stderr, "ERROR : getc_huffman_table_jpegl : calloc : thuf_table\n");
    return -2;
  }
  uint8_t table_id;
  int bytes_left = 0;
  int ret = getc_huffman_table(&table_id, &table->huffbits, &table->huffvalues,
                               MAX_HUFFCOUNTS_JPEGL, cbufptr, ebufptr, 1, &bytes_left);
  if (ret) return ret;
  if (bytes_left > 0) {
    fprintf(stderr, "ERROR : getc_huffman_table_jpegl : extra bytes after huffman table ID = %d\n",
            table_id);
    return -3;
  }
  if (bytes_left < 0) {
    fprintf(stderr,
            "ERROR : getc_huffman_table_jpegl : huffman table ID = %d longer than its segment\n",
            table_id);
    return -3;
  }
  int num_values = 0;
  for (int i = 0; i < MAX_HUFFBITS; ++i) num_values += table->huffbits[i];
  if (num_values > MAX_HUFFCOUNTS_JPEGL) {
    fprintf(stderr, "ERROR : getc_huffman_table_jpegl : %d values for %d symbols\n", num_values,
            MAX_HUFFCOUNTS_JPEGL);
    return kTooManyValues;
  }
  const int last_id = kFirstTableIdJpegl + MAX_HUFFTABLES_JPEGL - 1;
  if (table_id < MAX_HUFFTABLES_JPEGL) {
    fprintf(stderr,
            "WARNING : getc_huffman_table_jpegl : huffman table index %d not in range %d - %d\n"
            "Attempting to decode with given table index. "
            "Assuming index values 0-3 are being used.\n",
            table_id, kFirstTableIdJpegl, last_id);
    table_id = static_cast<uint8_t>(table_id + kFirstTableIdJpegl);
  } else if (table_id < kFirstTableIdJpegl || table_id > last_id) {
    fprintf(stderr,
            "ERROR : getc_huffman_table_jpegl : huffman table index %d not in range %d - %d\n",
            table_id, kFirstTableIdJpegl, last_id);
    return -4;
  }
  table->def = 1;
  table->table_id = table_id;
  HUFF_TABLE *&slot = huff_table[table_id - kFirstTableIdJpegl];
  if (slot != nullptr && slot->def) {
    fprintf(stderr, "ERROR : jpegl_decode_mem : huffman table %d illegally redefined\n",
            table_id);
    return -5;
  }
  struct {
    int **array;
    int code;
    const char *name;
  } lookups[] = {{&table->maxcode, -6, "maxcode"},
                 {&table->mincode, -7, "mincode"},
                 {&table->valptr, -8, "valptr"}};
  for (auto &l : lookups) {
    *l.array = static_cast<int *>(std::calloc(kDecodeTableLen, sizeof(int)));
    if (*l.array == nullptr) {
      fprintf(stderr, "ERROR : getc_huffman_table_jpegl : calloc : %s\n", l.name);
      return l.code;
    }
  }
  HuffCode *code_list = nullptr;
  if ((ret = build_huffsizes(&code_list, &table->last_size, table->huffbits,
                             MAX_HUFFCOUNTS_JPEGL)))
    return ret;
  build_huffcodes(code_list);
  gen_decode_table(code_list, table->maxcode, table->mincode, table->valptr, table->huffbits);
  std::free(code_list);
  // A record in the slot that no stream defined is replaced.
  free_HUFF_TABLE(slot);
  slot = table.release();
  return 0;
}

int setup_frame_header_jpegl(FrameHeaderJpegl **ofrm_header, const JpeglImage *img) {
  const char *routine = "setup_frame_header_jpegl";
  if (!ComponentsFit(img->num_cmpnts)) return OutOfRange(routine, "components", img->num_cmpnts);
  if (img->width < 1 || img->width > 0xFFFF) return OutOfRange(routine, "width", img->width);
  if (img->height < 1 || img->height > 0xFFFF) return OutOfRange(routine, "height", img->height);
  if (img->cmpnt_depth < 0 || img->cmpnt_depth > 0xFF)
    return OutOfRange(routine, "depth", img->cmpnt_depth);
  for (int i = 0; i < img->num_cmpnts; ++i) {
    for (int f : {img->hor_sampfctr[i], img->vrt_sampfctr[i]})
      if (f < 1 || f > 15) return OutOfRange(routine, "sampling factor", f);
  }
  FrameHeaderJpegl *hdr;
  int ret = NewRecord(&hdr, routine, "malloc : frm_header");
  if (ret) return ret;
  hdr->Nf = static_cast<uint8_t>(img->num_cmpnts);
  hdr->prec = static_cast<uint8_t>(img->cmpnt_depth);
  hdr->x = static_cast<uint16_t>(img->width);
  hdr->y = static_cast<uint16_t>(img->height);
  for (int i = 0; i < img->num_cmpnts; ++i) {
    hdr->C[i] = static_cast<uint8_t>(i);
    hdr->HV[i] = static_cast<uint8_t>((img->hor_sampfctr[i] << 4) | img->vrt_sampfctr[i]);
    hdr->Tq[i] = 0;
  }
  *ofrm_header = hdr;
  return 0;
}

int getc_frame_header_jpegl(FrameHeaderJpegl **ofrm_header, const uint8_t **cbufptr,
                            const uint8_t *ebufptr) {
  FrameHeaderJpegl *raw;
  int ret = NewRecord(&raw, "getc_frame_header_jpegl", "malloc : frm_header");
  if (ret) return ret;
  Owned<FrameHeaderJpegl> hdr(raw);
  uint16_t length;
  if ((ret = getc_ushort(&length, cbufptr, ebufptr))) return ret;
  if ((ret = getc_byte(&hdr->prec, cbufptr, ebufptr))) return ret;
  if ((ret = getc_ushort(&hdr->y, cbufptr, ebufptr))) return ret;
  if ((ret = getc_ushort(&hdr->x, cbufptr, ebufptr))) return ret;
  if ((ret = getc_byte(&hdr->Nf, cbufptr, ebufptr))) return ret;
  if (hdr->Nf > MAX_CMPNTS) return OutOfRange("getc_frame_header_jpegl", "components", hdr->Nf);
  for (int i = 0; i < hdr->Nf; ++i) {
    if ((ret = getc_byte(&hdr->C[i], cbufptr, ebufptr))) return ret;
    if ((ret = getc_byte(&hdr->HV[i], cbufptr, ebufptr))) return ret;
    if ((ret = getc_byte(&hdr->Tq[i], cbufptr, ebufptr))) return ret;
  }
  *ofrm_header = hdr.release();
  return 0;
}

int putc_frame_header_jpegl(const FrameHeaderJpegl *frm_header, uint8_t *odata, int oalloc,
                            int *olen) {
  if (frm_header->Nf > MAX_CMPNTS)
    return OutOfRange("putc_frame_header_jpegl", "components", frm_header->Nf);
  int ret = putc_ushort(SOF3_JPEGL, odata, oalloc, olen);
  if (ret) return ret;
  if ((ret = putc_ushort(static_cast<uint16_t>(8 + 3 * frm_header->Nf), odata, oalloc, olen)))
    return ret;
  if ((ret = putc_byte(frm_header->prec, odata, oalloc, olen))) return ret;
  if ((ret = putc_ushort(frm_header->y, odata, oalloc, olen))) return ret;
  if ((ret = putc_ushort(frm_header->x, odata, oalloc, olen))) return ret;
  if ((ret = putc_byte(frm_header->Nf, odata, oalloc, olen))) return ret;
  for (int i = 0; i < frm_header->Nf; ++i) {
    if ((ret = putc_byte(frm_header->C[i], odata, oalloc, olen))) return ret;
    if ((ret = putc_byte(frm_header->HV[i], odata, oalloc, olen))) return ret;
    if ((ret = putc_byte(frm_header->Tq[i], odata, oalloc, olen))) return ret;
  }
  return 0;
}

int setup_scan_header(ScanHeader **oscn_header, const JpeglImage *img, int cmpnt_i) {
  const char *routine = "setup_scan_header";
  if (!ComponentsFit(img->num_cmpnts)) return OutOfRange(routine, "components", img->num_cmpnts);
  if (!img->intrlv && (cmpnt_i < 0 || cmpnt_i >= img->num_cmpnts))
    return OutOfRange(routine, "component number", cmpnt_i);
  ScanHeader *hdr;
  int ret = NewRecord(&hdr, routine, "malloc : scn_header");
  if (ret) return ret;
  if (img->intrlv) {
    hdr->Ns = static_cast<uint8_t>(img->num_cmpnts);
    for (int i = 0; i < img->num_cmpnts; ++i) {
      hdr->Cs[i] = static_cast<uint8_t>(i);
      hdr->Tda[i] = static_cast<uint8_t>(i << 4);
    }
    hdr->Ahl = img->point_trans[0];
    hdr->Ss = img->predict[0];
  } else {
    hdr->Ns = 1;
    hdr->Cs[0] = static_cast<uint8_t>(cmpnt_i);
    hdr->Tda[0] = static_cast<uint8_t>(cmpnt_i << 4);
    hdr->Ahl = img->point_trans[cmpnt_i];
    hdr->Ss = img->predict[cmpnt_i];
  }
  hdr->Se = 0;
  *oscn_header = hdr;
  return 0;
}

int getc_scan_header(ScanHeader **oscn_header, const uint8_t **cbufptr, const uint8_t *ebufptr) {
  ScanHeader *raw;
  int ret = NewRecord(&raw, "getc_scan_header", "malloc : scn_header");
  if (ret) return ret;
  Owned<ScanHeader> hdr(raw);
  uint16_t length;
  if ((ret = getc_ushort(&length, cbufptr, ebufptr))) return ret;
  if ((ret = getc_byte(&hdr->Ns, cbufptr, ebufptr))) return ret;
  if (hdr->Ns > MAX_CMPNTS) return OutOfRange("getc_scan_header", "components", hdr->Ns);
  for (int i = 0; i < hdr->Ns; ++i) {
    if ((ret = getc_byte(&hdr->Cs[i], cbufptr, ebufptr))) return ret;
    if ((ret = getc_byte(&hdr->Tda[i], cbufptr, ebufptr))) return ret;
    hdr->Tda[i] = static_cast<uint8_t>(hdr->Tda[i] >> 4);
  }
  if ((ret = getc_byte(&hdr->Ss, cbufptr, ebufptr))) return ret;
  if ((ret = getc_byte(&hdr->Se, cbufptr, ebufptr))) return ret;
  if ((ret = getc_byte(&hdr->Ahl, cbufptr, ebufptr))) return ret;
  *oscn_header = hdr.release();
  return 0;
}

int putc_scan_header(const ScanHeader *scn_header, uint8_t *odata, int oalloc, int *olen) {
  if (scn_header->Ns > MAX_CMPNTS)
    return OutOfRange("putc_scan_header", "components", scn_header->Ns);
  int ret = putc_ushort(SOS_JPEGL, odata, oalloc, olen);
  if (ret) return ret;
  if ((ret = putc_ushort(static_cast<uint16_t>(6 + 2 * scn_header->Ns), odata, oalloc, olen)))
    return ret;
  if ((ret = putc_byte(scn_header->Ns, odata, oalloc, olen))) return ret;
  for (int i = 0; i < scn_header->Ns; ++i) {
    if ((ret = putc_byte(scn_header->Cs[i], odata, oalloc, olen))) return ret;
    if ((ret = putc_byte(scn_header->Tda[i], odata, oalloc, olen))) return ret;
  }
  if ((ret = putc_byte(scn_header->Ss, odata, oalloc, olen))) return ret;
  if ((ret = putc_byte(scn_header->Se, odata, oalloc, olen))) return ret;
  return putc_byte(scn_header->Ahl, odata, oalloc, olen);
}

int add_comment_jpegl(uint8_t **ostream, int *olen, const uint8_t *idata, int ilen,
                      const char *comment) {
  auto copy_head = [](const uint8_t **cbufptr, const uint8_t *ebufptr, uint8_t *odata,
                      int oalloc, int *len) {
    uint16_t marker;
    int ret = getc_marker_jpegl(&marker, SOI_JPEGL, cbufptr, ebufptr);
    if (ret || (ret = putc_ushort(marker, odata, oalloc, len))) return ret;
    if ((ret = getc_ushort(&marker, cbufptr, ebufptr))) return ret;
    if (marker != APP0_JPEGL) {
      *cbufptr -= 2;
      return 0;
    }
    // Checked as a JFIF header, then copied whole by its own length, so
    // bytes after the fields stay and the new length is exact.
    const uint8_t *segment = *cbufptr;
    JfifHeader *jfif = nullptr;
    if ((ret = getc_jfif_header(&jfif, cbufptr, ebufptr))) return ret;
    std::free(jfif);
    const int segment_len = static_cast<int>(*cbufptr - segment);
    *cbufptr = segment;
    if ((ret = putc_ushort(marker, odata, oalloc, len))) return ret;
    return copy_bytes(segment_len, cbufptr, ebufptr, odata, oalloc, len);
  };
  return insert_comment(ostream, olen, idata, ilen, comment, "add_comment_jpegl", COM_JPEGL,
                        copy_head);
}

int getc_nistcom_jpegl(FET **onistcom, const uint8_t *idata, int ilen) {
  const uint8_t *cbufptr = idata;
  const uint8_t *ebufptr = StreamEnd(idata, ilen);
  uint16_t marker;
  int ret = getc_marker_jpegl(&marker, SOI_JPEGL, &cbufptr, ebufptr);
  if (ret) return ret;
  for (;;) {
    if ((ret = getc_marker_jpegl(&marker, ANY_JPEGL, &cbufptr, ebufptr))) return ret;
    if (marker == SOS_JPEGL) {
      *onistcom = nullptr;
      return 0;
    }
    // The text is looked at only when the whole tag lies inside the buffer.
    if (marker == COM_JPEGL && ebufptr - cbufptr >= 10 &&
        std::memcmp(cbufptr + 2, NCM_HEADER, 8) == 0) {
      char *text_raw = nullptr;
      if ((ret = getc_comment(&text_raw, &cbufptr, ebufptr))) return ret;
      Owned<char> text(text_raw);
      FET *nistcom = nullptr;
      if ((ret = string2fet(&nistcom, text.get()))) return ret;
      *onistcom = nistcom;
      return 0;
    }
    if ((ret = getc_skip_marker_segment(marker, &cbufptr, ebufptr))) return ret;
  }
}

int putc_nistcom_jpegl(const char *comment_text, int w, int h, int d, int ppi, int lossyflag,
                       int num_cmpnts, const int *hor_sampfctr, const int *vrt_sampfctr,
                       int predict, uint8_t *odata, int oalloc, int *olen) {
  FET *nistcom = nullptr;
  bool second_comment = false;
  int ret;
  if (comment_text != nullptr) {
    if (std::strncmp(comment_text, NCM_HEADER, 8) == 0) {
      if ((ret = string2fet(&nistcom, comment_text))) return ret;
    } else {
      second_comment = true;
    }
  }
  // A list made by the combine is released there and the pointer cleared,
  // so what is left here is ours either way.
  ret = combine_jpegl_nistcom(&nistcom, w, h, d, ppi, lossyflag, num_cmpnts, hor_sampfctr,
                              vrt_sampfctr, 0, predict);
  std::unique_ptr<FET, void (*)(FET *)> list(nistcom, freefet);
  if (ret) return ret;
  char *text_raw = nullptr;
  if ((ret = fet2string(&text_raw, list.get()))) return ret;
  Owned<char> text(text_raw);
  if ((ret = putc_comment(COM_JPEGL, reinterpret_cast<const uint8_t *>(text.get()),
                          segment_text_length(text.get()), odata, oalloc, olen)))
    return ret;
  if (second_comment) {
    if ((ret = putc_comment(COM_JPEGL, reinterpret_cast<const uint8_t *>(comment_text),
                            segment_text_length(comment_text), odata, oalloc, olen)))
      return ret;
  }
  return 0;
}

int gen_huff_tables(HUFF_TABLE **tables, int num_tables) {
  const int N = MAX_HUFFCOUNTS_JPEGL;
  for (int i = 0; i < num_tables; ++i) {
    HUFF_TABLE *t = tables[i];
    t->table_id = static_cast<uint8_t>(kFirstTableIdJpegl + i);
    int *codesize = nullptr;
    int ret = find_huff_sizes(&codesize, t->freq, N);
    if (ret) return ret;
    std::free(t->codesize);
    t->codesize = codesize;
    uint8_t *bits = nullptr;
    int adjust = 0;
    if ((ret = find_num_huff_sizes(&bits, &adjust, t->codesize, N))) return ret;
    std::free(t->huffbits);
    t->huffbits = bits;
    if (adjust && (ret = sort_huffbits(t->huffbits))) return ret;
    uint8_t *values = nullptr;
    if ((ret = sort_code_sizes(&values, t->codesize, N))) return ret;
    std::free(t->huffvalues);
    t->huffvalues = values;
    HuffCode *code_list = nullptr;
    if ((ret = build_huffsizes(&code_list, &t->last_size, t->huffbits, N))) return ret;
    Owned<HuffCode> list(code_list);
    build_huffcodes(code_list);
    HuffCode *code_table = nullptr;
    if ((ret = build_huffcode_table(&code_table, code_list, t->last_size, t->huffvalues, N)))
      return ret;
    std::free(t->huffcode_table);
    t->huffcode_table = code_table;
  }
  return 0;
}

void free_HUFF_TABLE(HUFF_TABLE *huff_table) {
  if (huff_table == nullptr) return;
  std::free(huff_table->freq);
  std::free(huff_table->codesize);
  std::free(huff_table->huffbits);
  std::free(huff_table->huffvalues);
  std::free(huff_table->huffcode_table);
  std::free(huff_table->maxcode);
  std::free(huff_table->mincode);
  std::free(huff_table->valptr);
  std::free(huff_table);
}

void free_HUFF_TABLES(HUFF_TABLE **huff_table, int num_tables) {
  for (int i = 0; i < num_tables; ++i) free_HUFF_TABLE(huff_table[i]);
}

}  // namespace tsl
