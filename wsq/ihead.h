// IHead image headers of the NIST special databases 4, 9, 10, 14 and 18
// turned into NISTCOM lists: the facts each database keeps at fixed places
// of the header's identifier text. No exported function reaches them.
#ifndef TESSALY_WSQ_IHEAD_H
#define TESSALY_WSQ_IHEAD_H

#include "wsq/nistcom.h"

namespace tsl {

// The fields of an IHead header these routines read, at their offsets.
struct IHead {
  char id[80];       // identifier text, zero-terminated within its 80 bytes
  char unused1[50];
  char density[8];   // pixels per inch as decimal text (database 14)
  char unused2[54];
  char parent[80];   // further text appended to the history
};
static_assert(sizeof(IHead) == 272, "IHead field offsets");

// Code of an identifier with no zero byte within its 80 bytes.
constexpr int kIheadIdNotTerminated = -10;

// New list in *onistcom for database 4, 9, 10, 14 or 18; any other id gives
// -2 and a null list.
int sd_ihead_to_nistcom(FET **onistcom, const IHead *ihead, int sd_id);
int sd4_ihead_to_nistcom(FET **onistcom, const IHead *ihead);
int sd9_10_14_ihead_to_nistcom(FET **onistcom, const IHead *ihead, int sd_id);
int sd18_ihead_to_nistcom(FET **onistcom, const IHead *ihead);

// The pattern class letter of a database 4, 9, 10 or 14 header.
int get_sd_class(const IHead *ihead, int sd_id, char *oclass);
// The class letter of an NCIC class text and the finger's sequence number.
int get_class_from_ncic_class_string(const char *ncic, int seqnum, char *oclass);

}  // namespace tsl

#endif
