// Microsoft ADPCM: the block codec on hand-worked blocks, the pair search
// against a plain evaluation of every pair, and both conversion jobs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/ms_adpcm.h"
#include "support/test_fixtures.h"
#include "support/test_signals.h"
#include "support/wave_records.h"
#include "support/block_format_wave.h"

namespace {

Bytes header(uint8_t pair, int16_t delta, int16_t sample1, int16_t sample2) {
  Bytes out{pair};
  appendLE16(out, static_cast<uint16_t>(delta));
  appendLE16(out, static_cast<uint16_t>(sample1));
  appendLE16(out, static_cast<uint16_t>(sample2));
  return out;
}

Bytes withCodes(Bytes block, const Bytes& codes) {
  block.insert(block.end(), codes.begin(), codes.end());
  return block;
}

std::vector<int16_t> decode(const Bytes& block, size_t count) {
  std::vector<int16_t> out(count, 12345);
  msAdpcmDecodeBlock(block, out);
  return out;
}

// Worked by hand: pair 0 predicts the newer sample; code 7 at delta 16 adds
// 112 and the delta becomes 614 * 16 >> 8 = 38; code -1 then subtracts 38.
TEST(MsAdpcmCodec, DecodesHighNibbleFirst) {
  EXPECT_EQ(decode(withCodes(header(0, 16, 100, 50), {0x7F}), 4), (std::vector<int16_t>{50, 100, 212, 174}));
  // Pair 1 (512, -256): 2 * 100 - 50 = 150, + 20; then 2 * 170 - 100 = 240.
  EXPECT_EQ(decode(withCodes(header(1, 20, 100, 50), {0x10}), 4), (std::vector<int16_t>{50, 100, 170, 240}));
  // One sample is just the header's second sample.
  EXPECT_EQ(decode(withCodes(header(0, 16, 100, 50), {0x7F}), 1), (std::vector<int16_t>{50}));
}

TEST(MsAdpcmCodec, DecoderArithmetic) {
  // The prediction shifts arithmetically: 192 * -1 >> 8 is -1, not 0.
  EXPECT_EQ(decode(withCodes(header(3, 16, -1, 0), {0x00}), 3), (std::vector<int16_t>{0, -1, -1}));
  // The delta never falls below 16: 230 * 16 >> 8 = 14 is raised again.
  EXPECT_EQ(decode(withCodes(header(0, 16, 0, 0), {0x01}), 4), (std::vector<int16_t>{0, 0, 0, 16}));
  // The step is no 16-bit value: 16383 doubles to 32766 and 65532, and
  // code -1 then takes 65532 off.
  EXPECT_EQ(decode(withCodes(header(0, 16383, 0, 0), {0x66, 0xF0}), 5),
            (std::vector<int16_t>{0, 0, 32767, 32767, -32765}));
  // Samples saturate at both ends: 32000 + 7 * 4000, then 32767 - 8 * 9593.
  EXPECT_EQ(decode(withCodes(header(0, 4000, 32000, 0), {0x78}), 4), (std::vector<int16_t>{0, 32000, 32767, -32768}));
}

TEST(MsAdpcmCodec, PredictorBeyondTheTableDecodesWithTheFirstPair) {
  for (uint8_t pair : {7, 8, 255}) {
    EXPECT_EQ(decode(withCodes(header(pair, 20, 100, 50), {0x10}), 4), (std::vector<int16_t>{50, 100, 120, 120}))
        << int(pair);
  }
}

TEST(MsAdpcmCodec, RunawayDeltaStaysDefined) {
  // Code -8 triples the delta every sample; the samples simply saturate.
  Bytes block = withCodes(header(0, 32767, 0, 0), Bytes(1017, 0x88));
  std::vector<int16_t> out = decode(block, kMsAdpcmMaxBlockSamples);
  for (size_t k = 2; k < out.size(); ++k) ASSERT_EQ(out[k], -32768) << k;
}

TEST(MsAdpcmCodec, DecodeNeverReadsPastTheBlock) {
  std::vector<int16_t> out = decode(withCodes(header(0, 16, 100, 50), {0x7F}), 6);
  EXPECT_EQ(out, (std::vector<int16_t>{50, 100, 212, 174, 12345, 12345}));
  EXPECT_EQ(decode(Bytes{0, 16, 0, 0}, 2), (std::vector<int16_t>{12345, 12345}));
}

TEST(MsAdpcmCodec, InitialDeltaFromThreePredictionErrors) {
  std::vector<int16_t> click{0, 0, 1200, 0, 0};
  EXPECT_EQ(msAdpcmInitialDelta({256, 0}, click), (1200 + 1200 + 0) / 12);
  EXPECT_EQ(msAdpcmInitialDelta({512, -256}, click), (1200 + 2400 + 1200) / 12);
  EXPECT_EQ(msAdpcmInitialDelta({256, 0}, std::vector<int16_t>(5, 0)), 16);
  // Samples beyond the block count as 0: two samples leave e3 and e4 = 0 - 0.
  std::vector<int16_t> pair{0, 3000};
  EXPECT_EQ(msAdpcmInitialDelta({256, 0}, pair), 3000 / 12);
}

// A plain evaluation of one candidate block, for checking the search.
struct Candidate {
  Bytes block;
  uint32_t err;
};

Candidate evaluatePair(size_t index, const std::vector<int16_t>& x) {
  static const int c1s[7] = {256, 512, 0, 192, 240, 460, 392};
  static const int c2s[7] = {0, -256, 0, 64, 0, -208, -232};
  static const int adapt[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
  int c1 = c1s[index], c2 = c2s[index];
  auto at = [&](size_t k) { return k < x.size() ? int{x[k]} : 0; };
  int sum = 0;
  for (size_t k = 2; k <= 4; ++k) sum += std::abs(at(k) - ((c1 * at(k - 1) + c2 * at(k - 2)) >> 8));
  int delta = sum / 12 < 16 ? 16 : sum / 12;
  Candidate c{header(static_cast<uint8_t>(index), static_cast<int16_t>(delta), static_cast<int16_t>(at(1)),
                     static_cast<int16_t>(at(0))),
              0};
  int s1 = at(1), s2 = at(0);
  for (size_t k = 2; k < x.size(); ++k) {
    int pred = (s1 * c1 + s2 * c2) >> 8;
    int code = (x[k] - pred) / delta;
    code = code < -8 ? -8 : code > 7 ? 7 : code;
    int s = pred + delta * code;
    s = s < -32768 ? -32768 : s > 32767 ? 32767 : s;
    delta = adapt[code & 15] * delta >> 8;
    if (delta < 16) delta = 16;
    uint32_t miss = static_cast<uint32_t>(s - x[k]);
    c.err += miss * miss >> 7;
    s2 = s1;
    s1 = s;
    if (k % 2 == 0) c.block.push_back(static_cast<uint8_t>((code & 15) << 4));
    else c.block.back() = static_cast<uint8_t>(c.block.back() | (code & 15));
  }
  return c;
}

Bytes encode(const std::vector<int16_t>& x) {
  Bytes block(kMsAdpcmMaxBlockBytes + 1, 0xAA);
  size_t written = msAdpcmEncodeBlock(x, block);
  block.resize(written);
  return block;
}

TEST(MsAdpcmCodec, SilenceChoosesTheFirstPair) {
  Bytes expected = header(0, 16, 0, 0);
  expected.resize(256, 0);
  EXPECT_EQ(encode(std::vector<int16_t>(500, 0)), expected);
}

TEST(MsAdpcmCodec, CodeIsTheTruncatedQuotient) {
  // -20 / 16 truncates to -1 (reconstructing -16), not down to -2.
  EXPECT_EQ(encode({0, 0, -20}), withCodes(header(0, 16, 0, 0), {0xF0}));
}

TEST(MsAdpcmCodec, ShortBlocksReadMissingSamplesAsZero) {
  EXPECT_EQ(encode({-7}), header(0, 16, 0, -7));
  EXPECT_EQ(encode({5, 6}), header(0, 16, 6, 5));
  // Pairs 0, 1 and 3 all reconstruct 3000 exactly; pair 0's delta is
  // (3000 + 3000 + 0) / 12.
  EXPECT_EQ(encode({0, 0, 3000}), withCodes(header(0, 500, 0, 0), {0x60}));
}

TEST(MsAdpcmCodec, SearchKeepsTheBestPairAndTheLowerIndexOnTies) {
  Samples pool = whiteNoise(40000, 60, 17);
  Samples loud = speechLikeBursts(40000, 8000, 5);
  bool sawLaterTie = false, sawEachPair[7] = {};
  for (size_t start = 0; start + 40 <= pool.size(); start += 40) {
    for (const Samples* source : {&pool, &loud}) {
      size_t len = 3 + start / 40 % 30;
      std::vector<int16_t> x(source->begin() + static_cast<long>(start), source->begin() + static_cast<long>(start + len));
      size_t best = 0, ties = 0;
      std::vector<Candidate> all;
      for (size_t i = 0; i < 7; ++i) all.push_back(evaluatePair(i, x));
      for (size_t i = 1; i < 7; ++i) {
        if (all[i].err < all[best].err) best = i;
      }
      for (size_t i = best + 1; i < 7; ++i) ties += all[i].err == all[best].err;
      sawLaterTie |= best > 0 && ties > 0;
      sawEachPair[best] = true;
      ASSERT_EQ(encode(x), all[best].block) << "start " << start << " len " << len;
    }
  }
  EXPECT_TRUE(sawLaterTie);
  for (bool seen : sawEachPair) EXPECT_TRUE(seen);
}

TEST(MsAdpcmCodec, WholeBlocksOfLoudMaterialMatchThePlainSearch) {
  // Full-length blocks reach the largest deltas and the clamps of every pair.
  const std::vector<Samples> signals = {whiteNoise(3 * kMsAdpcmMaxBlockSamples, 32767, 3),
                                        linearChirp(3 * kMsAdpcmMaxBlockSamples, 44100, 30, 15000, 32000),
                                        fullScaleSquare(2 * kMsAdpcmMaxBlockSamples, 3),
                                        fullScaleRandomSigns(2 * kMsAdpcmMaxBlockSamples, 9),
                                        speechLikeBursts(3 * kMsAdpcmMaxBlockSamples, 22050, 4)};
  for (size_t s = 0; s < signals.size(); ++s) {
    for (size_t start = 0; start + kMsAdpcmMaxBlockSamples <= signals[s].size(); start += kMsAdpcmMaxBlockSamples) {
      for (size_t len : {kMsAdpcmMaxBlockSamples, kMsAdpcmMaxBlockSamples - 1, size_t{244}}) {
        std::vector<int16_t> x(signals[s].begin() + static_cast<long>(start),
                               signals[s].begin() + static_cast<long>(start + len));
        size_t best = 0;
        std::vector<Candidate> all;
        for (size_t i = 0; i < 7; ++i) all.push_back(evaluatePair(i, x));
        for (size_t i = 1; i < 7; ++i) {
          if (all[i].err < all[best].err) best = i;
        }
        ASSERT_EQ(encode(x), all[best].block) << "signal " << s << " start " << start << " len " << len;
      }
    }
  }
}

TEST(MsAdpcmCodec, EncoderRefusesCountsItCannotHold) {
  Bytes block(kMsAdpcmMaxBlockBytes, 0xAA);
  EXPECT_EQ(msAdpcmEncodeBlock(std::vector<int16_t>{}, block), 0u);
  EXPECT_EQ(msAdpcmEncodeBlock(std::vector<int16_t>(kMsAdpcmMaxBlockSamples + 1, 0), block), 0u);
  Bytes small(8, 0xAA);
  EXPECT_EQ(msAdpcmEncodeBlock(std::vector<int16_t>(5, 0), small), 0u);
  EXPECT_EQ(small, Bytes(8, 0xAA));
  EXPECT_EQ(msAdpcmEncodeBlock(std::vector<int16_t>(kMsAdpcmMaxBlockSamples, 0), block), kMsAdpcmMaxBlockBytes);
}

class MsAdpcmJobTest : public FreshRunTest {};

Bytes msFormat(uint32_t rate, uint32_t avgBytes, uint16_t blockAlign, uint16_t samplesPerBlock) {
  Bytes fmt = formatContents(2, 1, rate, avgBytes, blockAlign, 4);
  for (int v : {32, int{samplesPerBlock}, 7, 256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232}) {
    appendLE16(fmt, static_cast<uint16_t>(v));
  }
  return fmt;
}

TEST_F(MsAdpcmJobTest, DefaultBlockSizeFollowsTheRate) {
  struct Expect {
    uint32_t rate;
    uint16_t block;
    uint16_t samples;
    uint32_t avg;  // block * rate / samples, truncated
  };
  for (Expect e : {Expect{48000, 1024, 2036, 24141}, Expect{44100, 1024, 2036, 22179},
                   Expect{22050, 512, 1012, 11155}, Expect{22049, 256, 500, 11289}, Expect{11025, 256, 500, 5644},
                   Expect{8000, 256, 500, 4096}}) {
    WaveFile wave = pcmRecord(silence(10), e.rate);
    ASSERT_EQ(compressMsAdpcm(wave), 0);
    EXPECT_EQ(recordBytes(wave.fmt), msFormat(e.rate, e.avg, e.block, e.samples)) << e.rate;
    EXPECT_EQ(wave.fmtChunk.cksize, 50u);
    EXPECT_EQ(wave.data.size(), e.block) << e.rate;
    EXPECT_EQ(recordBytes(wave.fact), factContents(10));
  }
  jobOptions.blockSize = 16;
  WaveFile small = pcmRecord(silence(41), 44100);
  ASSERT_EQ(compressMsAdpcm(small), 0);
  EXPECT_EQ(readFormat(small).nBlockAlign, 16);
  EXPECT_EQ(readFormat(small).wSamplesPerBlock, 20);
  EXPECT_EQ(small.data.size(), 48u);
}

TEST_F(MsAdpcmJobTest, PartialLastBlocks) {
  jobOptions.blockSize = 16;  // 20 samples a block
  Samples input = linearChirp(20, 8000, 300, 900, 9000);
  input.push_back(-1234);
  WaveFile one = pcmRecord(input, 8000);
  ASSERT_EQ(compressMsAdpcm(one), 0);
  ASSERT_EQ(one.data.size(), 32u);
  Bytes last = header(0, 16, 0, -1234);
  last.resize(16, 0);
  EXPECT_EQ(Bytes(one.data.data() + 16, one.data.data() + 32), last);
  ASSERT_EQ(decompressMsAdpcm(one), 0);
  ASSERT_EQ(recordSamples(one).size(), 21u);
  EXPECT_EQ(recordSamples(one)[20], -1234);

  input.back() = 0;
  input.insert(input.end(), {0, 3000});
  WaveFile three = pcmRecord(input, 8000);
  ASSERT_EQ(compressMsAdpcm(three), 0);
  last = withCodes(header(0, 500, 0, 0), {0x60});
  last.resize(16, 0);
  EXPECT_EQ(Bytes(three.data.data() + 16, three.data.data() + 32), last);
}

TEST_F(MsAdpcmJobTest, RoundTripKeepsCountAndLoop) {
  Samples input = speechLikeBursts(5000, 22050, 3);
  WaveFile wave = pcmRecord(input, 22050);
  wave.loopStart = 5;
  wave.loopEnd = 4000;
  ASSERT_EQ(compressMsAdpcm(wave), 0);
  ASSERT_EQ(decompressMsAdpcm(wave), 0);
  EXPECT_EQ(recordBytes(wave.fmt), pcmFormat(1, 22050, 16));
  EXPECT_FALSE(wave.fact);
  std::vector<int16_t> out = recordSamples(wave);
  ASSERT_EQ(out.size(), input.size());
  EXPECT_EQ(wave.loopEnd, 4000u);
  for (size_t i = 0; i < input.size(); i += 1012) {
    EXPECT_EQ(out[i], input[i]) << i;  // each block keeps its first two samples
    EXPECT_EQ(out[i + 1], input[i + 1]) << i;
  }
}

TEST_F(MsAdpcmJobTest, DecoderUsesTheStandardPairsNotTheFile) {
  Bytes fmt = msFormat(8000, 4000, 8, 4);
  for (size_t at = 22; at < 50; ++at) fmt[at] = 0x11;  // other coefficient pairs
  Bytes data = withCodes(header(1, 20, 100, 50), {0x10});
  WaveFile wave = waveRecord(fmt, factContents(4), data);
  ASSERT_EQ(decompressMsAdpcm(wave), 0);
  EXPECT_EQ(recordSamples(wave), (std::vector<int16_t>{50, 100, 170, 240}));
}

TEST_F(MsAdpcmJobTest, SampleCountIsBoundedByTheWholeBlocks) {
  Bytes block = withCodes(header(0, 16, 100, 50), {0x7F});  // 8 bytes, 4 samples
  Bytes data = concat({block, block, {0x55, 0x55}});
  WaveFile longFact = waveRecord(blockFormatContents(2, 8000, 8, 4, 4), factContents(1000), data);
  ASSERT_EQ(decompressMsAdpcm(longFact), 0);
  EXPECT_EQ(recordSamples(longFact), (std::vector<int16_t>{50, 100, 212, 174, 50, 100, 212, 174}));
  WaveFile shortFact = waveRecord(blockFormatContents(2, 8000, 8, 4, 4), factContents(5), data);
  ASSERT_EQ(decompressMsAdpcm(shortFact), 0);
  EXPECT_EQ(recordSamples(shortFact), (std::vector<int16_t>{50, 100, 212, 174, 50}));
}

TEST_F(MsAdpcmJobTest, RefusesWhatItCannotDecodeAndLeavesTheRecord) {
  const char* layout = "Quarlix - Invalid block layout in Microsoft Adpcm file !\n";
  struct Refusal {
    const char* what;
    Bytes fmt;
    Bytes fact;
    const char* message;
  };
  std::vector<Refusal> cases = {
      {"stereo", formatContents(2, 2, 8000, 4000, 8, 4), factContents(4),
       "Quarlix - Only mono samples can be decompressed from Microsoft Adpcm !\n"},
      {"8-bit", blockFormatContents(2, 8000, 8, 4, 8), factContents(4),
       "Quarlix - Only 4-bit adpcm samples can be decompressed from Microsoft Adpcm !\n"},
      {"nBlockAlign 0", blockFormatContents(2, 8000, 0, 4, 4), factContents(4), layout},
      {"nBlockAlign below the header", blockFormatContents(2, 8000, 6, 1, 4), factContents(4), layout},
      {"wSamplesPerBlock 0", blockFormatContents(2, 8000, 8, 0, 4), factContents(4), layout},
      {"wSamplesPerBlock beyond the block", blockFormatContents(2, 8000, 8, 5, 4), factContents(4), layout},
      {"fmt without wSamplesPerBlock", formatContents(2, 1, 8000, 4000, 8, 4), factContents(4), layout},
      {"fact of 2^32 - 1", blockFormatContents(2, 8000, 8, 4, 4), factContents(0xFFFFFFFFu),
       "Quarlix - Too many samples in Microsoft Adpcm file !\n"},
  };
  Bytes data = withCodes(header(0, 16, 100, 50), {0x7F});
  for (const Refusal& c : cases) {
    resetErrorState();
    WaveFile wave = waveRecord(c.fmt, c.fact, data);
    EXPECT_EQ(decompressMsAdpcm(wave), kErrorRefused) << c.what;
    EXPECT_EQ(errorCode, kErrorRefused) << c.what;
    EXPECT_STREQ(errorMessage, c.message) << c.what;
    EXPECT_EQ(recordBytes(wave.fmt), c.fmt) << c.what;
    EXPECT_EQ(recordBytes(wave.data), data) << c.what;
  }
  // The largest layout a block holds is accepted: 7 bytes, 2 samples.
  WaveFile headerOnly = waveRecord(blockFormatContents(2, 8000, 7, 2, 4), factContents(2), header(0, 16, 9, 8));
  ASSERT_EQ(decompressMsAdpcm(headerOnly), 0);
  EXPECT_EQ(recordSamples(headerOnly), (std::vector<int16_t>{8, 9}));
}

TEST_F(MsAdpcmJobTest, RefusesToCompressAnythingButMono16BitPcm) {
  WaveFile stereo = waveRecord(pcmFormat(2, 8000, 16), std::nullopt, Bytes(8));
  EXPECT_EQ(compressMsAdpcm(stereo), kErrorRefused);
  EXPECT_STREQ(errorMessage, "Quarlix - Only mono samples can be compressed to Microsoft Adpcm !\n");
  WaveFile eightBit = waveRecord(pcmFormat(1, 8000, 8), std::nullopt, Bytes(8));
  EXPECT_EQ(compressMsAdpcm(eightBit), kErrorRefused);
  EXPECT_STREQ(errorMessage, "Quarlix - Only 16-bit PCM samples can be compressed to Microsoft Adpcm !\n");
  EXPECT_EQ(recordBytes(eightBit.fmt), pcmFormat(1, 8000, 8));
}

}  // namespace
