// Byte cursor and output buffer primitives of the WSQ stream, the WSQ
// markers and comment segments. Used by every WSQ segment reader and writer
// and by the header-only reader of the interface.
#ifndef TESSALY_WSQ_STREAM_IO_H
#define TESSALY_WSQ_STREAM_IO_H

#include <cstdint>

namespace tsl {

// WSQ markers.
constexpr uint16_t SOI_WSQ = 0xFFA0;
constexpr uint16_t EOI_WSQ = 0xFFA1;
constexpr uint16_t SOF_WSQ = 0xFFA2;
constexpr uint16_t SOB_WSQ = 0xFFA3;
constexpr uint16_t DTT_WSQ = 0xFFA4;
constexpr uint16_t DQT_WSQ = 0xFFA5;
constexpr uint16_t DHT_WSQ = 0xFFA6;
constexpr uint16_t DRT_WSQ = 0xFFA7;
constexpr uint16_t COM_WSQ = 0xFFA8;

// Marker classes accepted by getc_marker_wsq.
constexpr int TBLS_N_SOF = 2;
constexpr int TBLS_N_SOB = 4;
constexpr int ANY_WSQ = 0xFFFF;
// The SOI class is the SOI marker itself.

// Longest text one comment segment can hold (its length field is 16 bits).
constexpr int kMaxCommentText = 65533;

// Readers: *cbufptr is the current position, ebufptr one past the last byte.
// A failing read leaves the position unchanged and stores nothing.
int getc_byte(uint8_t *ochar_dat, const uint8_t **cbufptr, const uint8_t *ebufptr);
int getc_bytes(uint8_t **ochar_dat, int ilen, const uint8_t **cbufptr, const uint8_t *ebufptr);
int getc_ushort(uint16_t *oshrt_dat, const uint8_t **cbufptr, const uint8_t *ebufptr);
int getc_uint(uint32_t *oint_dat, const uint8_t **cbufptr, const uint8_t *ebufptr);
int getc_marker_wsq(uint16_t *omarker, int type, const uint8_t **cbufptr, const uint8_t *ebufptr);
// Reads the rest of a comment segment into a new NUL-terminated malloc'ed text.
int getc_comment(char **ocomment, const uint8_t **cbufptr, const uint8_t *ebufptr);
int getc_skip_marker_segment(uint16_t marker, const uint8_t **cbufptr, const uint8_t *ebufptr);

// Writers: append to odata (capacity oalloc) at *olen; a write that does not
// fit writes nothing.
int putc_byte(uint8_t ichar, uint8_t *odata, int oalloc, int *olen);
int putc_bytes(const uint8_t *idata, int ilen, uint8_t *odata, int oalloc, int *olen);
int putc_ushort(uint16_t ishort, uint8_t *odata, int oalloc, int *olen);
int putc_uint(uint32_t iint, uint8_t *odata, int oalloc, int *olen);
int putc_comment(uint16_t marker, const uint8_t *comment, int cs, uint8_t *odata, int oalloc,
                 int *olen);

}  // namespace tsl

#endif
