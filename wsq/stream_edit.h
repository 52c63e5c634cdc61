// Whole-stream edits of WSQ streams that need no decoding: a quick read of
// the frame header, inserting a comment segment and removing every comment
// segment. Building blocks of the codec; no exported function reaches them.
#ifndef TESSALY_WSQ_STREAM_EDIT_H
#define TESSALY_WSQ_STREAM_EDIT_H

#include <cstdint>

namespace tsl {

// Width, height, r_scale and m_shift of the stream's frame header (the
// segments before it are skipped by their lengths). 0 or a reader's code.
int read_wsq_frame_header(const uint8_t *idata, int ilen, int *owidth, int *oheight,
                          double *or_scale, double *om_shift);

// A new malloc'ed stream with one more comment segment, placed after the
// comment segments that directly follow SOI. 0, -2 (no comment), -3 (no
// memory) or a reader's or writer's code.
int add_comment_wsq(uint8_t **ostream, int *olen, const uint8_t *idata, int ilen,
                    const char *comment);

// A new malloc'ed stream without comment segments. 0, -2 (no memory), -3 (a
// segment length below 2) or a reader's or writer's code.
int delete_comments_wsq(uint8_t **ostream, int *olen, const uint8_t *idata, int ilen);

// The comment insertion of both stream kinds: copy_head reads and writes
// what comes before the comments (SOI, and for lossless JPEG a JFIF
// header); then the comments that follow are copied by their read length,
// the new one (marker com_marker) written and the rest copied unchanged.
// Messages name routine.
using HeadCopier = int (*)(const uint8_t **cbufptr, const uint8_t *ebufptr, uint8_t *odata,
                           int oalloc, int *olen);
int insert_comment(uint8_t **ostream, int *olen, const uint8_t *idata, int ilen,
                   const char *comment, const char *routine, uint16_t com_marker,
                   HeadCopier copy_head);

// Copies n bytes at the cursor to the output buffer: the reader's code when
// the input ends first, the writer's when they do not fit; nothing is
// written then. Shared by the stream edits of the WSQ and lossless JPEG
// streams.
int copy_bytes(int n, const uint8_t **cbufptr, const uint8_t *ebufptr, uint8_t *odata,
               int oalloc, int *olen);

// Length of a text as one comment segment takes it: texts longer than a
// segment holds give one too many, so the segment writer refuses them
// rather than seeing a wrapped int.
int segment_text_length(const char *text);

}  // namespace tsl

#endif
