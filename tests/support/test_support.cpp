#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "wsq/nistcom.h"

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

namespace {
// Under CI=true the set-up command has installed everything: what is
// missing there is a failure, not a reason to skip.
bool InCi() {
  const char *ci = std::getenv("CI");
  return ci && std::strcmp(ci, "true") == 0;
}
}  // namespace

bool NeedTool(const std::string &program) {
  if (program == kPython) return NeedPillow();
  if (program[0] == '/' ? access(program.c_str(), X_OK) == 0
                        : Run("command -v '" + program + "' >/dev/null 2>&1") == 0)
    return true;
  if (InCi()) ADD_FAILURE() << program << " is not installed; the set-up command installs it";
  return false;
}

bool NeedTools(std::initializer_list<const char *> programs) {
  for (const char *p : programs)
    if (!NeedTool(p)) return false;
  return true;
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

Entries FetEntries(const tsl::FET *fet) {
  Entries e;
  for (int i = 0; i < fet->count; ++i)
    e.emplace_back(fet->names[i], fet->values[i] ? fet->values[i] : "<none>");
  return e;
}

Bytes ToPlanar(const Bytes &rgb) {
  const size_t n = rgb.size() / 3;
  Bytes planar(rgb.size());
  for (size_t i = 0; i < rgb.size(); ++i) planar[i % 3 * n + i / 3] = rgb[i];
  return planar;
}

Bytes ToInterleaved(const Bytes &planar) {
  const size_t n = planar.size() / 3;
  Bytes rgb(planar.size());
  for (size_t i = 0; i < planar.size(); ++i) rgb[i % n * 3 + i / n] = planar[i];
  return rgb;
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

std::string Sha256Hex(const uint8_t *data, size_t size) {
  TempDir dir;
  const std::string path = dir.File("data");
  WriteFile(path, Bytes(data, data + size));
  std::string out;
  if (Run("sha256sum '" + path + "'", &out) != 0 || out.size() < 64) return "sha256sum failed";
  return out.substr(0, 64);
}

}  // namespace tsltest
