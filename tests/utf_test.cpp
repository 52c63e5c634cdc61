// UTF-8 <-> UTF-16 conversion: valid text against Python's codecs, and
// malformed input by the replacement rules (one U+FFFD per malformed
// sequence, which Python's own "replace" handler does not follow).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "api/utf.h"
#include "support/test_support.h"

using namespace tsl;

namespace {

using Units = std::vector<uint16_t>;
using Bytes8 = std::vector<uint8_t>;

// Both converters, sized by their own measuring pass; the sources are
// vectors of their exact size, so a read past one shows under the sanitizer.
Units ToUtf16(const Bytes8 &in) {
  const uint64_t n = utf8_to_utf16(in.data(), in.size(), nullptr, 0);
  Units out(n);
  EXPECT_EQ(utf8_to_utf16(in.data(), in.size(), out.data(), out.size()), n);
  return out;
}

Bytes8 ToUtf8(const Units &in) {
  const uint64_t n = utf16_to_utf8(in.data(), in.size(), nullptr, 0);
  Bytes8 out(n);
  EXPECT_EQ(utf16_to_utf8(in.data(), in.size(), out.data(), out.size()), n);
  return out;
}

std::vector<unsigned> Hex(const std::string &line) {
  std::vector<unsigned> v;
  for (size_t i = 0; i + 1 < line.size(); i += 2) v.push_back(std::stoul(line.substr(i, 2), 0, 16));
  return v;
}

TEST(Utf, ValidTextConvertsAsPythonsCodecsDo) {
  TSL_NEED_TOOL("/usr/bin/python3");
  std::vector<uint32_t> cps = {0x41,   0x7F,   0x80,    0x7FF,   0x800,    0xD7FF,  0xE000,
                               0xFFFD, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF, 0x20AC, 0x1};
  tsltest::Rng rng(7);
  for (int i = 0; i < 300; ++i) {
    uint32_t cp = 1 + rng.Below(0x10FFFF);
    if (cp < 0xD800 || cp > 0xDFFF) cps.push_back(cp);
  }
  std::string list;
  for (uint32_t cp : cps) list += std::to_string(cp) + ",";
  std::string out;
  ASSERT_EQ(tsltest::RunPython("s = ''.join(map(chr, [" + list + "]))\n"
                               "print(s.encode('utf-8').hex())\n"
                               "print(s.encode('utf-16-be').hex())\n",
                               &out),
            0);
  const size_t nl = out.find('\n');
  std::vector<unsigned> utf8 = Hex(out.substr(0, nl)), be = Hex(out.substr(nl + 1));
  const Bytes8 py8(utf8.begin(), utf8.end());
  Units py16;
  for (size_t i = 0; i + 1 < be.size(); i += 2) py16.push_back(uint16_t(be[i] << 8 | be[i + 1]));
  EXPECT_EQ(ToUtf16(py8), py16);
  EXPECT_EQ(ToUtf8(py16), py8);
}

TEST(Utf, UnpairedSurrogatesAndMalformedSequencesBecomeOneReplacementEach) {
  EXPECT_EQ(ToUtf8({0xDC00}), (Bytes8{0xEF, 0xBF, 0xBD}));
  EXPECT_EQ(ToUtf8({0x41, 0xD800}), (Bytes8{0x41, 0xEF, 0xBF, 0xBD}));
  EXPECT_EQ(ToUtf8({0xD800, 0x41}), (Bytes8{0xEF, 0xBF, 0xBD, 0x41}))
      << "the unit after a lone high surrogate is kept";
  for (const Bytes8 &bad : {Bytes8{0xC0, 0x80}, Bytes8{0xED, 0xA0, 0x80},
                            Bytes8{0xF4, 0x90, 0x80, 0x80}, Bytes8{0x80}, Bytes8{0xF8},
                            Bytes8{0xE2, 0x82}})
    EXPECT_EQ(ToUtf16(bad), (Units{0xFFFD})) << std::hex << int(bad[0]) << " " << bad.size();
  EXPECT_EQ(ToUtf16({0xE2, 0x41}), (Units{0xFFFD, 0x41}));
  EXPECT_EQ(ToUtf16({0xEF, 0xBF, 0xBF}), (Units{0xFFFF}));
}

TEST(Utf, CharactersThatDoNotFitAreSkipped) {
  const Bytes8 in = {0xF0, 0x9F, 0x98, 0x80, 'A'};
  Units out(1, 0x7777);
  EXPECT_EQ(utf8_to_utf16(in.data(), in.size(), out.data(), 1), 1u);
  EXPECT_EQ(out[0], 0x41);
  const Units wide = {0x20AC, 0x42};
  Bytes8 narrow(2, 0x77);
  EXPECT_EQ(utf16_to_utf8(wide.data(), wide.size(), narrow.data(), 2), 1u);
  EXPECT_EQ(narrow, (Bytes8{0x42, 0x77}));
}

TEST(Utf, TerminatedStringsConvertWithTheirTerminator) {
  const uint8_t empty[] = {0};
  const uint16_t *r = convert_ut8_to_utf16(empty);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[0], 0);
  const uint8_t euro[] = {0xE2, 0x82, 0xAC, 0};
  r = convert_ut8_to_utf16(euro);  // the previous result is released here
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[0], 0x20AC);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(convert_ut8_to_utf16(nullptr), nullptr);
}

}  // namespace
