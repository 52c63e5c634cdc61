#define TESSALY_PROCESS_EXIT_ALLOWED
#include "wsq/fet_exit.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "wsq/nistcom_edit.h"

namespace tsl {

namespace {

char *CopyOrDie(const char *text, const char *funcname, const char *object) {
  size_t n = std::strlen(text) + 1;
  char *copy = static_cast<char *>(std::malloc(n));
  if (copy == nullptr) syserr(funcname, "malloc", object);
  std::memcpy(copy, text, n);
  return copy;
}

int FindEntry(const char *name, const FET *fet) {
  for (int i = 0; i < fet->count; i++) {
    if (std::strcmp(fet->names[i], name) == 0) return i;
  }
  return -1;
}

// Arrays of no slots are given one, so an allocator's null for size 0 is
// never taken for a failure.
size_t Slots(int capacity) { return capacity > 0 ? static_cast<size_t>(capacity) : 1; }

}  // namespace

void fatalerr(const char *s1, const char *s2, const char *s3) {
  std::fflush(stdout);
  if (s2 == nullptr)
    std::fprintf(stderr, "ERROR: %s\n", s1);
  else if (s3 == nullptr)
    std::fprintf(stderr, "ERROR: %s: %s\n", s1, s2);
  else
    std::fprintf(stderr, "ERROR: %s: %s: %s\n", s1, s2, s3);
  std::fflush(stderr);
  std::exit(1);
}

void syserr(const char *funcname, const char *syscall, const char *msg) {
  std::fflush(stdout);
  if (msg != nullptr)
    std::fprintf(stderr, "ERROR: %s: %s: %s\n", funcname, syscall, msg);
  else
    std::fprintf(stderr, "ERROR: %s: %s\n", funcname, syscall);
  std::fflush(stderr);
  std::exit(-1);
}

FET *allocfet(int capacity) {
  if (capacity < 0) capacity = 0;
  FET *fet = static_cast<FET *>(std::malloc(sizeof(FET)));
  if (fet == nullptr) syserr("allocfet", "malloc", "fet");
  fet->names = static_cast<char **>(std::calloc(Slots(capacity), sizeof(char *)));
  if (fet->names == nullptr) syserr("allocfet", "calloc", "fet->names");
  fet->values = static_cast<char **>(std::calloc(Slots(capacity), sizeof(char *)));
  if (fet->values == nullptr) syserr("allocfet", "calloc", "fet->values");
  fet->capacity = capacity;
  fet->count = 0;
  return fet;
}

FET *reallocfet(FET *fet, int new_capacity) {
  if (fet == nullptr) return allocfet(new_capacity);
  // Fewer slots than entries would leave entries that freefet then
  // releases past the arrays.
  if (new_capacity < fet->count) fatalerr("reallocfet", "new capacity", "below entry count");
  const size_t slots = Slots(new_capacity);
  char **names = static_cast<char **>(std::realloc(fet->names, slots * sizeof(char *)));
  if (names == nullptr) fatalerr("reallocfet", "realloc", "space for increased fet->names");
  fet->names = names;
  char **values = static_cast<char **>(std::realloc(fet->values, slots * sizeof(char *)));
  if (values == nullptr) fatalerr("reallocfet", "realloc", "space for increased fet->values");
  fet->values = values;
  // Slots beyond the entries read as unused, names and values alike.
  for (size_t i = static_cast<size_t>(fet->count); i < slots; i++) {
    fet->names[i] = nullptr;
    fet->values[i] = nullptr;
  }
  fet->capacity = new_capacity;
  return fet;
}

void updatefet(const char *name, const char *value, FET *fet) {
  int item = FindEntry(name, fet);
  if (item >= 0) {
    std::free(fet->values[item]);
    fet->values[item] = value != nullptr ? CopyOrDie(value, "updatefet", "fet->values[]") : nullptr;
    return;
  }
  if (fet->count >= fet->capacity) {
    int grow = fet->capacity / 10;
    if (grow < 10) grow = 10;
    if (fet->capacity > INT_MAX - grow) fatalerr("updatefet", "capacity", "too large");
    reallocfet(fet, fet->capacity + grow);
  }
  fet->names[fet->count] = CopyOrDie(name, "updatefet", "fet->names[]");
  if (value != nullptr) fet->values[fet->count] = CopyOrDie(value, "updatefet", "fet->values[]");
  fet->count++;
}

char *extractfet(const char *name, const FET *fet) {
  int item = FindEntry(name, fet);
  if (item < 0) fatalerr("extractfet", name, "not found");
  if (fet->values[item] == nullptr) return nullptr;
  return CopyOrDie(fet->values[item], "extractfet", "value");
}

void deletefet(const char *name, FET *fet) {
  if (!RemoveFetEntry(name, fet)) fatalerr("deletefet", name, "Feature not found");
}

}  // namespace tsl
