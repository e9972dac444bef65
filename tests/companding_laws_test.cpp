// The three companding laws against their rules, evaluated plainly here for
// every 16-bit input, and TestLaw on records and through the job.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/companding_laws.h"
#include "support/test_fixtures.h"
#include "support/cli_runner.h"
#include "support/wav_builder.h"
#include "support/wave_records.h"

namespace {

// --- The rules, written out directly (no tables, no cells). ---

int plainALaw(int x) {
  int p = x >> 3;
  int mask = 0xD5;
  if (p < 0) {
    mask = 0x55;
    p = -p - 1;
  }
  const int ends[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
  int seg = 0;
  while (ends[seg] < p) ++seg;
  int q = seg <= 1 ? p >> 1 : p >> seg;
  int b = (((seg << 4) | (q & 0xF)) ^ mask) ^ 0x55;
  int t = (b & 0xF) << 4;
  int dseg = (b >> 4) & 7;
  if (dseg == 0) t += 8;
  else if (dseg == 1) t += 0x108;
  else t = (t + 0x108) << (dseg - 1);
  return (b & 0x80) ? t : -t;
}

int plainMuLaw(int x) {
  int p = (x - (x & 7)) / 4;  // the 3 low bits cleared, then an exact division
  int mask = 0xFF;
  if (p < 0) {
    p = -p;
    mask = 0x7F;
  }
  if (p > 8159) p = 8159;
  p += 33;
  const int ends[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
  int seg = 0;
  while (seg < 8 && ends[seg] < p) ++seg;
  int code = seg == 8 ? 0x7F ^ mask : ((seg << 4) | ((p >> (seg + 1)) & 0xF)) ^ mask;
  int b = ~code & 0xFF;
  int t = (((b & 0xF) << 3) + 0x84) << ((b & 0x70) >> 4);
  return (b & 0x80) ? 0x84 - t : t - 0x84;
}

const int kKibLevels[128] = {
    0,     14,    28,    42,    57,    72,    88,    104,   121,   139,   157,   176,   196,   216,   237,   259,
    282,   305,   329,   354,   380,   407,   435,   464,   494,   524,   557,   590,   624,   660,   696,   735,
    774,   815,   857,   901,   947,   994,   1043,  1093,  1145,  1199,  1256,  1314,  1374,  1436,  1501,  1567,
    1637,  1708,  1783,  1859,  1939,  2021,  2107,  2195,  2287,  2382,  2480,  2582,  2687,  2796,  2909,  3026,
    3147,  3273,  3403,  3538,  3677,  3821,  3971,  4126,  4286,  4452,  4625,  4803,  4987,  5178,  5376,  5581,
    5794,  6014,  6241,  6477,  6721,  6974,  7236,  7508,  7789,  8080,  8381,  8693,  9016,  9351,  9698,  10057,
    10429, 10814, 11213, 11626, 12054, 12497, 12956, 13431, 13923, 14433, 14961, 15508, 16074, 16660, 17267, 17896,
    18548, 19222, 19921, 20645, 21394, 22170, 22974, 23806, 24668, 25561, 26486, 27443, 28435, 29462, 30526, 31628,
};

int kibDecoded(int code) {
  if (code < 128) return kKibLevels[code];
  if (code == 128) return -32767;
  return -kKibLevels[256 - code];
}

// The code nearest to the middle of the sample's 8-sample cell, ties to the
// larger decoded value, found by looking at every code.
int plainKibCode(int x) {
  double middle = (x - (x & 7)) + 3.5;
  int best = 0;
  for (int code = 1; code < 256; ++code) {
    double d = std::abs(kibDecoded(code) - middle);
    double bestD = std::abs(kibDecoded(best) - middle);
    if (d < bestD || (d == bestD && kibDecoded(code) > kibDecoded(best))) best = code;
  }
  return best;
}

int roundTrip(int32_t law, int x) {
  Bytes bytes;
  appendLE16(bytes, static_cast<uint16_t>(x));
  compandSamples(law, bytes);
  return static_cast<int16_t>(bytes[0] | bytes[1] << 8);
}

// Every 16-bit value, as little-endian samples, through compandSamples.
std::vector<int16_t> everySampleThrough(int32_t law) {
  Bytes bytes;
  for (int x = -32768; x <= 32767; ++x) appendLE16(bytes, static_cast<uint16_t>(x));
  compandSamples(law, bytes);
  return pcm16FromBytes(bytes.data(), 65536);
}

TEST(CompandingLaws, ListedExamples) {
  const int aLaw[][2] = {{0, 8}, {-1, -8}, {100, 104}, {1000, 1008}, {32767, 32256}, {-32768, -32256}};
  for (auto [in, out] : aLaw) EXPECT_EQ(roundTrip(kLawA, in), out) << "A-law " << in;
  const int muLaw[][2] = {{0, 0},   {7, 0},      {8, 8},        {100, 96},     {1000, 988}, {-1, -8},
                          {-100, -104}, {32767, 32124}, {-32768, -32124}, {96, 96}, {103, 96}, {128, 132},
                          {143, 132}, {-8, -8}};
  for (auto [in, out] : muLaw) EXPECT_EQ(roundTrip(kLawMu, in), out) << "mu-law " << in;
  const int kibLaw[][2] = {{0, 0},       {-1, 0},       {12, 14},       {100, 104},     {1000, 994},
                           {-1000, -994}, {32767, 31628}, {-32768, -32767}, {-8, 0},      {7, 0},
                           {8, 14},      {23, 14},      {31080, 31628}, {-32201, -32767}};
  for (auto [in, out] : kibLaw) EXPECT_EQ(roundTrip(kLawKib, in), out) << "kib-law " << in;
}

TEST(CompandingLaws, TablesAgreeWithTheRulesForEverySample) {
  std::vector<int16_t> aLaw = everySampleThrough(kLawA);
  std::vector<int16_t> muLaw = everySampleThrough(kLawMu);
  std::vector<int16_t> kibLaw = everySampleThrough(kLawKib);
  std::vector<int> kibCodeOfCell(8192);
  for (int cell = 0; cell < 8192; ++cell) kibCodeOfCell[cell] = plainKibCode(static_cast<int16_t>(cell << 3));
  int mismatches = 0;
  auto check = [&](const char* what, int x, int got, int want) {
    if (got == want) return;
    if (++mismatches <= 5) ADD_FAILURE() << what << " of " << x << ": " << got << ", rule gives " << want;
  };
  for (int x = -32768; x <= 32767; ++x) {
    size_t i = static_cast<size_t>(x + 32768);
    int kibCode = kibCodeOfCell[static_cast<uint16_t>(x) >> 3];
    check("A-law", x, aLaw[i], plainALaw(x));
    check("mu-law", x, muLaw[i], plainMuLaw(x));
    check("kib-law", x, kibLaw[i], kibDecoded(kibCode));
    check("kib-law code", x, kibLawCode(static_cast<int16_t>(x)), kibCode);
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(CompandingLaws, EachLawIsIdempotent) {
  for (int32_t law : {kLawA, kLawMu, kLawKib}) {
    std::vector<int16_t> once = everySampleThrough(law);
    Bytes bytes;
    for (int16_t s : once) appendLE16(bytes, static_cast<uint16_t>(s));
    compandSamples(law, bytes);
    EXPECT_EQ(pcm16FromBytes(bytes.data(), once.size()), once) << "law " << law;
  }
}

TEST(CompandingLaws, KibLawCodesOfListedCells) {
  const int cells[][2] = {{0, 0x00}, {1, 0x01}, {2, 0x01}, {4095, 0x7F}, {4096, 0x80},
                          {8189, 0xFF}, {8190, 0xFF}, {8191, 0x00}};
  for (auto [cell, code] : cells) EXPECT_EQ(kibLawCode(static_cast<int16_t>(cell << 3)), code) << cell;
}

TEST(CompandingLaws, NoLawAndOddTrailingByteLeaveBytesAlone) {
  Bytes bytes = {0x34, 0x12, 0x99};
  compandSamples(kLawNone, bytes);
  compandSamples(7, bytes);
  EXPECT_EQ(bytes, (Bytes{0x34, 0x12, 0x99}));
  compandSamples(kLawA, bytes);
  EXPECT_EQ(pcm16FromBytes(bytes.data(), 1)[0], plainALaw(0x1234));
  EXPECT_EQ(bytes[2], 0x99);
}

// --- TestLaw on records built here. ---

WaveFile pcmRecord(uint16_t tag, uint16_t channels, uint16_t bits, const Bytes& data) {
  return waveRecord(formatContents(tag, channels, 8000, 16000, 2, bits), std::nullopt, data);
}

class TestLawRecord : public FreshRunTest {};

TEST_F(TestLawRecord, RunsTheChosenLawInPlace) {
  jobOptions.lawTest = kLawMu;
  Bytes data = concat({pcm16Contents({100, -100, 32767}), Bytes{0x77}});
  WaveFile wave = pcmRecord(1, 1, 16, data);
  EXPECT_EQ(TestLaw(wave), 0);
  EXPECT_EQ(wave.sampleCount, 3);
  EXPECT_EQ(pcm16FromBytes(wave.data.data(), 3), (std::vector<int16_t>{96, -104, 32124}));
  EXPECT_EQ(wave.data.data()[6], 0x77);

  WaveFile empty = pcmRecord(1, 1, 16, {});
  empty.sampleCount = 5;
  EXPECT_EQ(TestLaw(empty), 0);
  EXPECT_EQ(empty.sampleCount, 0);
}

TEST_F(TestLawRecord, RefusesAllButSixteenBitMonoPcm) {
  jobOptions.lawTest = kLawA;
  const char* mono = "Quarlix - Only mono samples can be run through TestLaw() !\n";
  const char* pcm16 = "Quarlix - Only 16-bit PCM samples can be run through TestLaw() !\n";
  struct Case {
    uint16_t tag, channels, bits;
    const char* message;
  } cases[] = {{1, 2, 16, mono}, {1, 2, 8, mono}, {1, 0, 16, mono}, {1, 1, 8, pcm16}, {17, 1, 16, pcm16}};
  for (const Case& c : cases) {
    Bytes data = pcm16Contents({1000, -1000});
    WaveFile wave = pcmRecord(c.tag, c.channels, c.bits, data);
    EXPECT_EQ(TestLaw(wave), -10);
    EXPECT_EQ(errorCode, -10);
    EXPECT_STREQ(errorMessage, c.message) << c.tag << " " << c.channels << " " << c.bits;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), wave.data.data()));
  }
}

// --- Through the job. ---

class LawCli : public ScratchCliTest {
 protected:
  std::vector<int16_t> outputSamples(const std::string& name) {
    Bytes out = readFileBytes(dir.file(name));
    EXPECT_EQ(out.size(), 44u + 12u);  // RIFF, fmt and data headers, six samples
    return pcm16FromBytes(out.data() + 44, 6);
  }
};

TEST_F(LawCli, EachOptionRunsItsLawAndWritesPcm) {
  ::mkdir(dir.file("in").c_str(), 0777);
  writeFileBytes(dir.file("in/a.wav"), monoPcmWave({0, -1, 12, 1000, 32767, -32768}));
  CliResult a = run({"-ta", "in/a.wav"});
  EXPECT_EQ(a.status, 0);
  EXPECT_NE(a.output.find(kCompleted), std::string::npos);
  EXPECT_EQ(outputSamples("a.wav"), (std::vector<int16_t>{8, -8, 8, 1008, 32256, -32256}));
  EXPECT_EQ(run({"-tu", "in/a.wav"}).status, 0);
  EXPECT_EQ(outputSamples("a.wav"), (std::vector<int16_t>{0, -8, 8, 988, 32124, -32124}));
  EXPECT_EQ(run({"-tb", "in/a.wav"}).status, 0);
  EXPECT_EQ(outputSamples("a.wav"), (std::vector<int16_t>{0, 0, 14, 994, 31628, -32767}));
}

TEST_F(LawCli, RunsBeforeTheSampleWriter) {
  writeFileBytes(dir.file("k.wav"), monoPcmWave({12, -1000}));
  EXPECT_EQ(run({"-tb", "-ob", "k.wav"}).status, 0);
  Bytes bin = readFileBytes(dir.file("k.bin"));
  ASSERT_EQ(bin.size(), 24u);
  EXPECT_EQ(Bytes(bin.begin() + 20, bin.end()), (Bytes{0x00, 0x0E, 0xFC, 0x1E}));  // 14 and -994
}

TEST_F(LawCli, SkippedForOtherFormatsAndRefusedForStereo) {
  Bytes fmt = formatContents(17, 1, 8000, 4055, 256, 4);
  appendLE16(fmt, 2);
  appendLE16(fmt, 505);
  Bytes blocks(256, 0x5A);
  Bytes ima = waveImage({chunk("fmt ", fmt), chunk("fact", factContents(505)), chunk("data", blocks)});
  ::mkdir(dir.file("in").c_str(), 0777);
  writeFileBytes(dir.file("in/ima.wav"), ima);
  CliResult skipped = run({"-ta", "in/ima.wav"});
  EXPECT_EQ(skipped.status, 0);
  EXPECT_EQ(readFileBytes(dir.file("ima.wav")), ima);

  writeFileBytes(dir.file("in/st.wav"), waveImage({chunk("fmt ", pcmFormat(2, 8000, 16)),
                                                   chunk("data", pcm16Contents({1, 2, 3, 4}))}));
  CliResult stereo = run({"-tb", "in/st.wav"});
  EXPECT_EQ(stereo.status, 1);
  const std::string refusal = "Quarlix - Only mono samples can be run through TestLaw() !\n\n";
  ASSERT_GE(stereo.output.size(), refusal.size());
  EXPECT_EQ(stereo.output.substr(stereo.output.size() - refusal.size()), refusal);
  EXPECT_FALSE(fileExists(dir.file("st.wav")));
}

}  // namespace
