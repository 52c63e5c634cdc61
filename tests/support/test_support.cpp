#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tsltest {

const char *const kConvert = "convert-im6.q16";
const char *const kPython = "/usr/bin/python3";

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tessaly-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    ADD_FAILURE() << "mkdtemp failed";
    path_ = "/tmp";
    return;
  }
  path_ = buf.data();
}

TempDir::~TempDir() {
  if (path_.find("tessaly-test-") != std::string::npos) {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
}

Bytes ReadFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const Bytes &data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
}

void WriteFile(const std::string &path, const std::string &data) {
  std::ofstream f(path, std::ios::binary);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

int Run(const std::string &command, std::string *out) {
  FILE *p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = text;
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string &program) {
  if (!program.empty() && program[0] == '/') return access(program.c_str(), X_OK) == 0;
  return Run("command -v '" + program + "' >/dev/null 2>&1") == 0;
}

namespace {
// Under CI=true the set-up command has installed everything: what is
// missing there is a failure, not a reason to skip.
bool InCi() {
  const char *ci = std::getenv("CI");
  return ci && std::strcmp(ci, "true") == 0;
}
}  // namespace

bool NeedTool(const std::string &program) {
  if (HaveTool(program)) return true;
  if (InCi()) ADD_FAILURE() << program << " is not installed; the set-up command installs it";
  return false;
}

bool NeedPillow() {
  if (Run(std::string(kPython) + " -c 'import PIL.Image' >/dev/null 2>&1") == 0) return true;
  if (InCi()) ADD_FAILURE() << kPython << " cannot import Pillow; the set-up command installs it";
  return false;
}

int RunPython(const std::string &script, std::string *out) {
  TempDir dir;
  std::string path = dir.File("script.py");
  WriteFile(path, script);
  return Run(std::string(kPython) + " '" + path + "'", out);
}

Bytes RidgeImage(int width, int height, uint64_t seed) {
  Bytes img(static_cast<size_t>(width) * height);
  Rng rng(seed);
  const double cx = width * 0.5, cy = height * 0.55;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double dx = x - cx, dy = (y - cy) * 1.2;
      double r = std::sqrt(dx * dx + dy * dy);
      double period = 8.0 + 2.0 * std::sin(0.01 * (x + 2 * y));
      double ridge = std::sin(2 * M_PI * r / period + 0.3 * std::sin(0.05 * x));
      double v = 128 + 90 * ridge + static_cast<double>(rng.Below(31)) - 15;
      if (v < 0) v = 0;
      if (v > 255) v = 255;
      img[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(v);
    }
  }
  return img;
}

double Psnr(const Bytes &a, const Bytes &b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    double d = static_cast<double>(a[i]) - b[i];
    se += d * d;
  }
  if (se == 0) return INFINITY;
  double mse = se / a.size();
  return 10 * std::log10(255.0 * 255.0 / mse);
}

void WritePgm(const std::string &path, const uint8_t *grey, int width, int height) {
  std::string s = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  s.append(reinterpret_cast<const char *>(grey), static_cast<size_t>(width) * height);
  WriteFile(path, s);
}

void WritePpmInterleaved(const std::string &path, const uint8_t *rgb, int width, int height) {
  std::string s = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  s.append(reinterpret_cast<const char *>(rgb), static_cast<size_t>(width) * height * 3);
  WriteFile(path, s);
}

bool ReadPnm(const std::string &path, int *width, int *height, int *channels, Bytes *pixels) {
  Bytes f = ReadFile(path);
  size_t pos = 0;
  auto token = [&](std::string *t) {
    t->clear();
    while (pos < f.size()) {
      if (f[pos] == '#') {
        while (pos < f.size() && f[pos] != '\n') ++pos;
      } else if (std::isspace(f[pos])) {
        ++pos;
      } else {
        break;
      }
    }
    while (pos < f.size() && !std::isspace(f[pos])) t->push_back(static_cast<char>(f[pos++]));
    return !t->empty();
  };
  std::string magic, w, h, maxv;
  if (!token(&magic) || !token(&w) || !token(&h) || !token(&maxv)) return false;
  if (magic != "P5" && magic != "P6") return false;
  if (maxv != "255") return false;
  *width = std::atoi(w.c_str());
  *height = std::atoi(h.c_str());
  *channels = magic == "P5" ? 1 : 3;
  ++pos;  // the single whitespace after maxval
  size_t n = static_cast<size_t>(*width) * *height * *channels;
  if (pos + n > f.size()) return false;
  pixels->assign(f.begin() + static_cast<std::ptrdiff_t>(pos),
                 f.begin() + static_cast<std::ptrdiff_t>(pos + n));
  return true;
}

bool UseCommaDecimalLocale() {
  auto comma = []() {
    const struct lconv *lc = std::localeconv();
    return lc && lc->decimal_point && std::strcmp(lc->decimal_point, ",") == 0;
  };
  for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
    if (std::setlocale(LC_NUMERIC, name) && comma()) return true;
  }
  // Build one: glibc looks in LOCPATH before the system folders. The folder
  // goes when the process ends.
  static TempDir dir;
  static bool built = false;
  if (!built) {
    built = true;
    Run("localedef -i de_DE -f UTF-8 '" + dir.File("de_DE.UTF-8") + "' >/dev/null 2>&1");
  }
  setenv("LOCPATH", dir.path().c_str(), 1);
  bool ok = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && comma();
  if (!ok) {
    std::setlocale(LC_NUMERIC, "C");
    if (InCi()) ADD_FAILURE() << "no comma-decimal locale: localedef and the locales package are needed";
  }
  return ok;
}

void RestoreCLocale() { std::setlocale(LC_NUMERIC, "C"); }

// Compact SHA-256 (FIPS 180-4) so golden digests need no extra dependency.
std::string Sha256Hex(const uint8_t *data, size_t size) {
  static const uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  Bytes msg(data, data + size);
  uint64_t bits = static_cast<uint64_t>(size) * 8;
  msg.push_back(0x80);
  while (msg.size() % 64 != 56) msg.push_back(0);
  for (int i = 7; i >= 0; --i) msg.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (size_t off = 0; off < msg.size(); off += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = (uint32_t(msg[off + 4 * i]) << 24) | (uint32_t(msg[off + 4 * i + 1]) << 16) |
             (uint32_t(msg[off + 4 * i + 2]) << 8) | msg[off + 4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      uint32_t S1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
      uint32_t ch = (e & f) ^ (~e & g);
      uint32_t t1 = hh + S1 + ch + k[i] + w[i];
      uint32_t S0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
      uint32_t mj = (a & b) ^ (a & c) ^ (b & c);
      uint32_t t2 = S0 + mj;
      hh = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
    }
    h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
  }
  char out[65];
  for (int i = 0; i < 8; ++i) std::snprintf(out + 8 * i, 9, "%08x", h[i]);
  return std::string(out, 64);
}

}  // namespace tsltest
