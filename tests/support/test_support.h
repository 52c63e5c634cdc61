// Helpers shared by the test executables: scratch folders, files, outside
// tools (ImageMagick, Pillow, netpbm, libtiff, OpenJPEG) and image metrics.
#ifndef TESSALY_TEST_SUPPORT_H
#define TESSALY_TEST_SUPPORT_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace tsl {
struct FET;
}

namespace tsltest {

using Bytes = std::vector<uint8_t>;

// A fresh folder under TMPDIR, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

Bytes ReadFile(const std::string &path);
void WriteFile(const std::string &path, const Bytes &data);
void WriteFile(const std::string &path, const std::string &data);

// Runs a shell command; returns its exit status (-1 when it could not run).
// Standard output is captured into *out when given.
int Run(const std::string &command, std::string *out = nullptr);

// For tests that need outside programs: true when each is on PATH (or is an
// absolute path that exists). When one is missing the test is skipped on a
// developer machine and fails under CI=true, where the set-up command
// installs every tool.
bool NeedTool(const std::string &program);
bool NeedTools(std::initializer_list<const char *> programs);
#define TSL_NEED_TOOL(prog)                                          \
  do {                                                               \
    if (!::tsltest::NeedTool(prog)) GTEST_SKIP() << prog " missing"; \
  } while (0)

// ImageMagick 6 under its unambiguous name, and the Python with Pillow.
extern const char *const kConvert;  // "convert-im6.q16"
extern const char *const kPython;   // "/usr/bin/python3"

// As NeedTool, for Pillow: true when kPython imports it. NeedTool(kPython)
// checks the same.
bool NeedPillow();
#define TSL_NEED_PILLOW()                                         \
  do {                                                            \
    if (!::tsltest::NeedPillow()) GTEST_SKIP() << "Pillow missing"; \
  } while (0)

// Runs a Python snippet with Pillow's interpreter; returns the exit status.
int RunPython(const std::string &script, std::string *out = nullptr);

// Deterministic pseudo-random generator (xorshift) for test images.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
  uint64_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

 private:
  uint64_t s_;
};

// A NISTCOM list's entries, name and value ("<none>" for no value).
using Entries = std::vector<std::pair<std::string, std::string>>;
Entries FetEntries(const tsl::FET *fet);

// Interleaved RGB to three planes (red, green, blue) and back.
Bytes ToPlanar(const Bytes &rgb);
Bytes ToInterleaved(const Bytes &planar);

// A fingerprint-like grey image: curved ridges of varying period with noise.
Bytes RidgeImage(int width, int height, uint64_t seed = 1);

// Peak signal-to-noise ratio of two equally sized 8-bit buffers, in dB
// (infinity when they are equal).
double Psnr(const Bytes &a, const Bytes &b);

// Netpbm files (P5 grey or P6 RGB from planar or interleaved data) for
// feeding outside tools, and a reader of binary P5/P6 back into bytes
// (interleaved for P6). ReadPnm returns false on anything else.
void WritePgm(const std::string &path, const uint8_t *grey, int width, int height);
void WritePpmInterleaved(const std::string &path, const uint8_t *rgb, int width, int height);
bool ReadPnm(const std::string &path, int *width, int *height, int *channels, Bytes *pixels);

// Switches LC_NUMERIC (and LC_ALL's numeric part) of this process to a
// locale whose decimal separator is a comma, compiling one with localedef
// into a scratch folder (removed at exit) when the system has none. Returns
// false when no such locale can be had: the caller skips, and under CI=true
// the test fails. RestoreCLocale undoes it.
bool UseCommaDecimalLocale();
void RestoreCLocale();

// Hex SHA-256 of a buffer (by coreutils' sha256sum), for golden digests of
// encoder output.
std::string Sha256Hex(const uint8_t *data, size_t size);
inline std::string Sha256Hex(const Bytes &b) { return Sha256Hex(b.data(), b.size()); }

}  // namespace tsltest

#endif
