#include "wsq/ihead.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "common/checked.h"
#include "common/text.h"

namespace tsl {

namespace {

constexpr size_t kIdSize = sizeof(IHead::id);

// The identifier, zero-filled past its terminator, one byte longer than
// the field so every fixed position and every scan stays inside it.
struct IdCopy {
  char text[kIdSize + 1];
};

bool CopyId(const IHead *ihead, IdCopy *id, const char *routine) {
  const void *end = std::memchr(ihead->id, '\0', kIdSize);
  if (end == nullptr) {
    fprintf(stderr, "ERROR : %s : identifier not terminated within %zu bytes\n", routine,
            kIdSize);
    return false;
  }
  // Only the text: the header bytes after its terminator must not show
  // through at the fixed positions of a short identifier.
  std::memset(id->text, 0, sizeof id->text);
  const size_t length = static_cast<size_t>(static_cast<const char *>(end) - ihead->id);
  std::memcpy(id->text, ihead->id, length);
  return true;
}

// Text of a fixed-size field up to its first zero byte, never past it.
std::string FieldText(const char *field, size_t size) {
  return std::string(field, strnlen(field, size));
}

// Up to len characters of the identifier from pos, stopping at its end.
std::string Piece(const IdCopy &id, size_t pos, size_t len = kIdSize) {
  return FieldText(id.text + pos, len);
}

// The history text: the parts joined by single blanks, in a new malloc'ed
// buffer, or null when none can be had.
char *JoinHistory(std::initializer_list<std::string> parts) {
  size_t size = 0;
  for (const std::string &p : parts) size += p.size() + 1;
  char *hst = static_cast<char *>(std::malloc(size));
  if (hst == nullptr) return nullptr;
  char *at = hst;
  for (const std::string &p : parts) {
    if (at != hst) *at++ = ' ';
    std::memcpy(at, p.data(), p.size());
    at += p.size();
  }
  *at = '\0';
  return hst;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A scanner over the zero-terminated identifier with the steps of the
// formats the databases' class fields are read with.
struct Scanner {
  const char *p;
  void SkipSpace() {
    while (IsSpace(*p)) ++p;
  }
  bool AnyChar() {
    if (*p == '\0') return false;
    ++p;
    return true;
  }
  bool Word(std::string *out = nullptr) {
    SkipSpace();
    const char *start = p;
    while (*p != '\0' && !IsSpace(*p)) ++p;
    if (out != nullptr) out->assign(start, p);
    return p != start;
  }
  bool Literal(char c) {
    if (*p != c) return false;
    ++p;
    return true;
  }
  // A decimal int with range check, leading blanks and a sign allowed.
  bool Int(int *out) {
    long v;
    const char *end;
    if (!ParseLong(p, &v, &end) || v < INT_MIN || v > INT_MAX) return false;
    p = end;
    *out = static_cast<int>(v);
    return true;
  }
};

// Sequence number and class text after `skip` leading characters: the
// number, a '.', the rest of that word, two more words and the class.
bool ScanSeqnumAndClass(const char *text, int skip, int *seqnum, std::string *ncic) {
  Scanner s{text};
  for (int i = 0; i < skip; ++i) {
    if (!s.AnyChar()) return false;
  }
  return s.Int(seqnum) && s.Literal('.') && s.Word() && s.Word() && s.Word() && s.Word(ncic);
}

struct FetOwner {
  FET *fet = nullptr;
  ~FetOwner() { freefet(fet); }
};

int AddEntries(FET *fet, std::initializer_list<std::pair<const char *, std::string>> entries) {
  for (const auto &e : entries) {
    int ret = updatefet_ret(e.first, e.second.c_str(), fet);
    if (ret) return ret;
  }
  return 0;
}

}  // namespace

int get_class_from_ncic_class_string(const char *ncic, int seqnum, char *oclass) {
  const char *p = ncic;
  if (std::strncmp(p, "ac", 2) == 0) {
    // The prefix and the character after it are passed over; a shorter text
    // holds no class at all.
    if (strnlen(p, 3) < 3) {
      fprintf(stderr, "ERROR : get_class_from_ncic_class_string : invalid class string %s\n",
              ncic);
      return -3;
    }
    p += 3;
  }
  if (std::strncmp(p, "aa", 2) == 0) {
    *oclass = 'A';
  } else if (std::strncmp(p, "sr", 2) == 0) {
    *oclass = 'S';
  } else if (std::strncmp(p, "tt", 2) == 0) {
    *oclass = 'T';
  } else if (*p == 'c' || *p == 'd' || *p == 'p' || *p == 'x') {
    *oclass = 'W';
  } else {
    long ridges = 0;
    if (!ParseLong(p, &ridges)) ridges = 0;
    if (ridges < 1 || ridges > 99) {
      fprintf(stderr,
              "ERROR : get_class_from_ncic_class_string : "
              "invalid ridge count (%ld) from ncic string\n",
              ridges);
      return -2;
    }
    const int digit = seqnum % 10;
    const bool right_hand = digit >= 1 && digit <= 5;
    *oclass = (right_hand == (ridges < 50)) ? 'R' : 'L';
  }
  return 0;
}

int get_sd_class(const IHead *ihead, int sd_id, char *oclass) {
  IdCopy id;
  if (!CopyId(ihead, &id, "get_sd_class")) return kIheadIdNotTerminated;
  int seqnum = 0;
  std::string ncic;
  switch (sd_id) {
    case 4: {
      Scanner s{id.text};
      if (!s.Word() || (s.SkipSpace(), *s.p == '\0')) {
        fprintf(stderr, "ERROR : get_sd_class : getting class");
        fprintf(stderr, "letter for Special Database 4\n");
        return -2;
      }
      *oclass = *s.p;
      return 0;
    }
    case 10:
      if (!ScanSeqnumAndClass(id.text, 2, &seqnum, &ncic)) {
        fprintf(stderr, "ERROR : get_sd_class : getting seqnum and ");
        fprintf(stderr, "ncic classes for Special Database 10\n");
        return -3;
      }
      break;
    case 9:
    case 14:
      if (!ScanSeqnumAndClass(id.text, 1, &seqnum, &ncic)) {
        fprintf(stderr, "ERROR : get_sd_class : getting seqnum and ");
        fprintf(stderr, "ncic classes for Special Database 9 or 14\n");
        return -4;
      }
      break;
    default:
      fprintf(stderr, "ERROR : get_sd_class : Invalid");
      fprintf(stderr, "database id number (%d)\n", sd_id);
      return -5;
  }
  return get_class_from_ncic_class_string(ncic.c_str(), seqnum, oclass);
}

int sd4_ihead_to_nistcom(FET **onistcom, const IHead *ihead) {
  IdCopy id;
  if (!CopyId(ihead, &id, "sd4_ihead_to_nistcom")) return kIheadIdNotTerminated;
  const std::string class_text = Piece(id, 13, id.text[14] == ' ' ? 1 : 2);
  std::unique_ptr<char, FreeDeleter> hst(
      JoinHistory({Piece(id, 0, 12), class_text, FieldText(ihead->parent, sizeof ihead->parent)}));
  if (!hst) {
    fprintf(stderr, "ERROR : sd4_ihead_to_nistcom : malloc : hst\n");
    return -2;
  }
  FetOwner list;
  int ret = allocfet_ret(&list.fet, 5);
  if (ret) return ret;
  if ((ret = AddEntries(list.fet, {{NCM_HEADER, "5"}, {"SD_ID", "4"}, {"HISTORY", hst.get()}})))
    return ret;
  hst.reset();
  char cls;
  if ((ret = get_sd_class(ihead, 4, &cls))) return ret;
  if ((ret = AddEntries(list.fet, {{"FING_CLASS", std::string(1, cls)}, {"SEX", Piece(id, 16)}})))
    return ret;
  *onistcom = list.fet;
  list.fet = nullptr;
  return 0;
}

int sd9_10_14_ihead_to_nistcom(FET **onistcom, const IHead *ihead, int sd_id) {
  IdCopy id;
  if (!CopyId(ihead, &id, "sd9_10_14_ihead_to_nistcom")) return kIheadIdNotTerminated;
  std::string tail = Piece(id, 17);
  for (char &c : tail)
    if (c == ' ') c = '_';
  std::unique_ptr<char, FreeDeleter> hst(
      JoinHistory({Piece(id, 0, 12), tail, FieldText(ihead->parent, sizeof ihead->parent)}));
  if (!hst) return -2;
  FetOwner list;
  int ret = allocfet_ret(&list.fet, 7);
  if (ret) return ret;
  if (sd_id == 14)
    ret = AddEntries(list.fet, {{NCM_HEADER, "7"},
                                {NCM_PPI, FieldText(ihead->density, sizeof ihead->density)}});
  else
    ret = AddEntries(list.fet, {{NCM_HEADER, "6"}});
  if (ret) return ret;
  if ((ret = AddEntries(list.fet, {{"SD_ID", FormatInt(sd_id)}, {"HISTORY", hst.get()}})))
    return ret;
  hst.reset();
  char cls;
  if ((ret = get_sd_class(ihead, sd_id, &cls))) return ret;
  if ((ret = AddEntries(list.fet, {{"FING_CLASS", std::string(1, cls)},
                                   {"SEX", Piece(id, 13, 1)},
                                   {"SCAN_TYPE", Piece(id, 15, 1)}})))
    return ret;
  *onistcom = list.fet;
  list.fet = nullptr;
  return 0;
}

int sd18_ihead_to_nistcom(FET **onistcom, const IHead *ihead) {
  IdCopy id;
  if (!CopyId(ihead, &id, "sd18_ihead_to_nistcom")) return kIheadIdNotTerminated;
  FetOwner list;
  int ret = allocfet_ret(&list.fet, 6);
  if (ret) return ret;
  if ((ret = AddEntries(list.fet, {{NCM_HEADER, "6"},
                                   {"SD_ID", "18"},
                                   {"HISTORY", Piece(id, 0, 12)},
                                   {"SEX", Piece(id, 13, 1)},
                                   {"AGE", Piece(id, 15)},
                                   {"FACE_POS", Piece(id, 0, 1)}})))
    return ret;
  *onistcom = list.fet;
  list.fet = nullptr;
  return 0;
}

int sd_ihead_to_nistcom(FET **onistcom, const IHead *ihead, int sd_id) {
  switch (sd_id) {
    case 4:
      return sd4_ihead_to_nistcom(onistcom, ihead);
    case 9:
    case 10:
    case 14:
      return sd9_10_14_ihead_to_nistcom(onistcom, ihead, sd_id);
    case 18:
      return sd18_ihead_to_nistcom(onistcom, ihead);
    default:
      fprintf(stderr, "ERROR : sd_ihead_to_nistcom : invalid database id = %d\n", sd_id);
      fprintf(stderr, "        expecting SD 4,9,10,14, or 18\n");
      *onistcom = nullptr;
      return -2;
  }
}

}  // namespace tsl
