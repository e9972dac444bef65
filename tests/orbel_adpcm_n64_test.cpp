// Orbel ADPCM-N64: the index estimate, the block codec with its index
// warnings, and the two conversion jobs.
#include "codecs/orbel_adpcm_n64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/error_state.h"
#include "app/job_options.h"
#include "support/test_fixtures.h"
#include "support/orbel_reference.h"
#include "support/test_signals.h"
#include "support/wave_records.h"

namespace {

const std::string kDecodeWarning = "\nWarning - iIndex > 88 during ADPCMN64 decompression !\n";
const std::string kEncodeWarning = "\nWarning - iIndex > 88 during ADPCMN64 compression !\n";

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

std::vector<int16_t> decode(const Bytes& block, size_t count) {
  std::vector<int16_t> samples(count);
  orbelN64DecodeBlock(block, samples);
  return samples;
}

class N64JobTest : public FreshRunTest {};

TEST(OrbelN64Block, IndexEstimateTakesNearestStepTiesToTheLarger) {
  // With set 3 (2 s1 - s2) the samples w, -w, w, -w, w give errors of 4w
  // each, so the step estimate S is exactly w.
  const std::pair<int16_t, int32_t> cases[] = {
      {1, 1}, {8, 1}, {15, 8}, {100, 27}, {31280, 87}, {31281, 88}, {32767, 88}};
  for (auto [w, index] : cases) {
    std::vector<int16_t> x = {w, static_cast<int16_t>(-w), w, static_cast<int16_t>(-w), w};
    EXPECT_EQ(orbelN64EstimateIndex(512, -256, x), index) << "S = " << w;
  }
}

TEST(OrbelN64Block, RampExampleTrialsBlockAndDecode) {
  std::vector<int16_t> x(24);
  for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<int16_t>(100 * i);
  const uint32_t totals[kN64Sets] = {3079, 6, 0, 0};
  OrbelN64Trials trials;
  orbelN64EncodeTrials(x, trials);
  for (int set = 0; set < kN64Sets; ++set) EXPECT_EQ(trials.errorTotal[set], totals[set]) << "set " << set;
  Bytes expected = {0x00, 0x02, 0x00, 0x64, 0x05, 0x44, 0x33, 0x35, 0x23, 0x42, 0x33, 0x43, 0x33, 0x52, 0x34, 0x23};
  Bytes block(16, 0xEE);
  orbelN64EncodeBlock(x, block);
  EXPECT_EQ(block, expected);
  EXPECT_EQ(decode(expected, 24),
            (std::vector<int16_t>{0,    100,  198,  303,  406,  505,  596,  706,  799,  896,  1008, 1102,
                                  1200, 1297, 1401, 1504, 1603, 1694, 1804, 1897, 1994, 2106, 2200, 2298}));
  EXPECT_EQ(referenceN64Encode(x, 16).bytes, expected) << "the test-only reference agrees";
}

TEST(OrbelN64Block, SilenceStartsAtIndexOneAndCodesZero) {
  Bytes block(16, 0xEE);
  orbelN64EncodeBlock(std::vector<int16_t>(24, 0), block);
  Bytes expected(16, 0);
  expected[4] = 0x01;
  EXPECT_EQ(block, expected);
  EXPECT_EQ(decode(expected, 24), std::vector<int16_t>(24, 0));
}

TEST(OrbelN64Block, HeaderSamplesRoundToMultiplesOfFour) {
  Bytes block(16);
  std::vector<int16_t> x(24, 0);
  x[0] = 2;
  x[1] = -2;
  orbelN64EncodeBlock(x, block);
  EXPECT_EQ(decode(block, 2), (std::vector<int16_t>{4, 0}));
  x[0] = -32768;
  x[1] = -3;
  orbelN64EncodeBlock(x, block);
  EXPECT_EQ(decode(block, 2), (std::vector<int16_t>{-32768, -4}));

  // 32767 would round to 32768, which the header cannot hold: 32764 is
  // stored and predicted from. Set 1 (repeat s1) then codes 32767 with step
  // 8 as code 0, error 0, and the decoder follows exactly.
  orbelN64EncodeBlock(std::vector<int16_t>(24, 32767), block);
  Bytes expected(16, 0);
  expected[0] = 0x7F;
  expected[1] = 0xFD;
  expected[2] = 0x7F;
  expected[3] = 0xFC;
  expected[4] = 0x01;
  EXPECT_EQ(block, expected);
  EXPECT_EQ(decode(block, 24), std::vector<int16_t>(24, 32764));
  std::vector<int16_t> near(24, 32766);
  EXPECT_EQ(referenceN64Encode(near, 16).reconstruction, std::vector<int16_t>(24, 32764));
  orbelN64EncodeBlock(near, block);
  EXPECT_EQ(decode(block, 24), std::vector<int16_t>(24, 32764));
}

TEST(OrbelN64Block, ShortCountsReadOnlyTheHeader) {
  // Exactly the five header bytes: any read of a code byte would be caught.
  Bytes header = {0x03, 0xE9, 0xFF, 0xFC, 0x10};
  EXPECT_EQ(decode(header, 1), (std::vector<int16_t>{1000}));
  EXPECT_EQ(decode(header, 2), (std::vector<int16_t>{1000, -4}));
  EXPECT_TRUE(decode(header, 0).empty());
}

TEST(OrbelN64Block, SetZeroCodesTheSignalItself) {
  // Header samples 0 and 256, index 10 (step 19): sample 2 is 19 x 1, not
  // 256 + 19; the index falls to 9 (step 17) for sample 3.
  EXPECT_EQ(decode({0x00, 0x00, 0x01, 0x00, 0x0A, 0x11}, 4), (std::vector<int16_t>{0, 256, 19, 17}));
}

TEST(OrbelN64Block, DecoderWarnsAtEveryClampAndBoundsAHeaderIndex) {
  Bytes block = {0x00, 0x00, 0x00, 0x00, 88, 0x77, 0x7F};
  testing::internal::CaptureStdout();
  std::vector<int16_t> loud = decode(block, 6);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(loud, (std::vector<int16_t>{0, 0, 32767, 32767, 32767, -32767}));
  EXPECT_EQ(printed, kDecodeWarning + kDecodeWarning + kDecodeWarning);

  // A damaged header index above 88 decodes as 88, silently: steps 32767,
  // then 29794 and 27086 as code 1, 0, -1 move it down.
  Bytes damaged = {0x00, 0x00, 0x00, 0x00, 200, 0x10, 0xF0};
  Bytes bounded = {0x00, 0x00, 0x00, 0x00, 88, 0x10, 0xF0};
  testing::internal::CaptureStdout();
  std::vector<int16_t> fromDamaged = decode(damaged, 6);
  printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(fromDamaged, decode(bounded, 6));
  EXPECT_EQ(fromDamaged, (std::vector<int16_t>{0, 0, 32767, 0, -27086, 0}));
  EXPECT_EQ(printed, "");
}

TEST_F(N64JobTest, CompressionRecordAndFullLastBlock) {
  // n = N + 1 with the default block size: the second block holds 1000 and
  // 127 zero samples, which set 0 codes exactly (S = 8, index 1).
  std::vector<int16_t> input(129, 0);
  input[128] = 1000;
  WaveFile wave = pcmRecord(input);
  ASSERT_EQ(compressOrbelAdpcmN64(wave), 0);
  Bytes fmt = formatContents(0x2003, 1, 22050, 11714, 68, 4);
  appendLE16(fmt, 2);
  appendLE16(fmt, 128);
  EXPECT_EQ(recordBytes(wave.fmt), fmt);
  EXPECT_EQ(recordBytes(wave.fact), factContents(129));
  Bytes data(136, 0);
  data[4] = 0x01;
  data[68] = 0x03;
  data[69] = 0xE8;
  data[72] = 0x01;
  EXPECT_EQ(recordBytes(wave.data), data);
  ASSERT_EQ(decompressOrbelAdpcmN64(wave), 0);
  EXPECT_EQ(recordSamples(wave), input);
  EXPECT_EQ(recordBytes(wave.fmt), pcmFormat(1, 22050, 16));

  WaveFile empty = pcmRecord({});
  ASSERT_EQ(compressOrbelAdpcmN64(empty), 0);
  EXPECT_EQ(recordBytes(empty.fact), factContents(0));
  EXPECT_EQ(empty.dataChunk.cksize, 0u);
}

TEST_F(N64JobTest, RefusalsLeaveTheInputAsItWas) {
  WaveFile stereo = waveRecord(pcmFormat(2, 22050, 16), std::nullopt, Bytes(8, 1));
  EXPECT_EQ(compressOrbelAdpcmN64(stereo), -10);
  EXPECT_STREQ(errorMessage, "Quarlix - Only mono samples can be compressed to Olbek's AdpcmN64 !\n");
  WaveFile eightBit = waveRecord(pcmFormat(1, 22050, 8), std::nullopt, Bytes(8, 1));
  EXPECT_EQ(compressOrbelAdpcmN64(eightBit), -10);
  EXPECT_STREQ(errorMessage, "Quarlix - Only 16-bit PCM samples can be compressed to Olbek's AdpcmN64 !\n");
  EXPECT_EQ(recordBytes(eightBit.data), Bytes(8, 1));

  struct Case {
    uint16_t tag, channels, bits, blockAlign, samplesPerBlock;
    uint32_t factCount;
    size_t fmtBytes;
    const char* message;
  };
  // The checks are shared with Orbel ADPCM (tested there in full); here the
  // names in the messages and this format's own block capacity, 2B - 8.
  const Case cases[] = {
      {0x2003, 2, 4, 16, 24, 24, 20, "Quarlix - Only mono samples can be decompressed from Olbek's AdpcmN64 !\n"},
      {0x2000, 1, 4, 16, 24, 24, 20,
       "Quarlix - Only 4-bit adpcm samples can be decompressed from Olbek's AdpcmN64 !\n"},
      {0x2003, 1, 4, 16, 24, 24, 19, "Quarlix - Invalid block layout in Olbek's AdpcmN64 file !\n"},
      {0x2003, 1, 4, 16, 25, 24, 20, "Quarlix - Invalid block layout in Olbek's AdpcmN64 file !\n"},
      {0x2003, 1, 4, 4, 1, 24, 20, "Quarlix - Invalid block layout in Olbek's AdpcmN64 file !\n"},
      {0x2003, 1, 4, 16, 24, 0x80000000u, 20, "Quarlix - Too many samples in Olbek's AdpcmN64 file !\n"},
  };
  for (const Case& c : cases) {
    WaveFile wave = blockRecord(c.tag, c.blockAlign, c.samplesPerBlock, c.factCount, Bytes(32, 0x55), c.channels,
                                c.bits, c.fmtBytes);
    EXPECT_EQ(decompressOrbelAdpcmN64(wave), -10) << c.message;
    EXPECT_EQ(errorCode, -10);
    EXPECT_STREQ(errorMessage, c.message);
    EXPECT_EQ(recordBytes(wave.data), Bytes(32, 0x55));
    EXPECT_EQ(readFormat(wave).wFormatTag, c.tag);
  }
  // A 5-byte block holds exactly its two header samples.
  WaveFile smallest = blockRecord(0x2003, 5, 2, 10, Bytes{0x03, 0xE8, 0x00, 0x08, 0x00});
  ASSERT_EQ(decompressOrbelAdpcmN64(smallest), 0);
  EXPECT_EQ(recordSamples(smallest), (std::vector<int16_t>{1000, 8}));
}

TEST_F(N64JobTest, DecodedCountIsFactBoundedByWholeBlocks) {
  Bytes block(16, 0);
  block[4] = 0x01;
  Bytes data;
  for (int k = 0; k < 2; ++k) data.insert(data.end(), block.begin(), block.end());
  data.resize(data.size() + 15, 0x55);  // a trailing partial block is never decoded
  const std::pair<uint32_t, uint32_t> cases[] = {{500, 48}, {49, 48}, {48, 48}, {25, 25}, {1, 1}};
  for (auto [fact, decoded] : cases) {
    WaveFile wave = blockRecord(0x2003, 16, 24, fact, data);
    ASSERT_EQ(decompressOrbelAdpcmN64(wave), 0);
    EXPECT_EQ(recordSamples(wave), std::vector<int16_t>(decoded, 0)) << "fact " << fact;
  }
}

TEST_F(N64JobTest, StreamsMatchTheReferenceAndEveryBlockStandsAlone) {
  const std::vector<std::vector<int16_t>> signals = {
      whiteNoise(20011, 32767, 3),
      whiteNoise(5000, 300, 4),
      linearChirp(22050, 22050, 20, 10000, 30000),
      fullScaleSquare(9001, 37),
      fullScaleSquare(3000, 1),
      silenceWithClicks(12000, 1500, 32767),
  };
  for (int32_t blockSize : {0, 16, 17, 1024}) {
    jobOptions.blockSize = blockSize;
    size_t blockBytes = blockSize == 0 ? 68 : static_cast<size_t>(blockSize);
    size_t perBlock = 2 * blockBytes - 8;
    for (size_t s = 0; s < signals.size(); ++s) {
      ReferenceStream reference = referenceN64Encode(signals[s], blockBytes);
      WaveFile wave = pcmRecord(signals[s]);
      testing::internal::CaptureStdout();
      ASSERT_EQ(compressOrbelAdpcmN64(wave), 0);
      std::string printed = testing::internal::GetCapturedStdout();
      EXPECT_EQ(occurrences(printed, kEncodeWarning), reference.indexWarnings);
      EXPECT_EQ(printed.size(), reference.indexWarnings * kEncodeWarning.size());
      EXPECT_EQ(recordBytes(wave.data), reference.bytes) << "signal " << s << " block " << blockBytes;

      // Each block alone, from its own bytes only, then the whole stream.
      Bytes data = recordBytes(wave.data);
      for (size_t k = 0; k * perBlock < signals[s].size(); k += 7) {
        size_t count = std::min(perBlock, signals[s].size() - k * perBlock);
        Bytes alone(data.begin() + static_cast<ptrdiff_t>(k * blockBytes),
                    data.begin() + static_cast<ptrdiff_t>((k + 1) * blockBytes));
        testing::internal::CaptureStdout();
        std::vector<int16_t> samples = decode(alone, count);
        testing::internal::GetCapturedStdout();
        std::vector<int16_t> expected(reference.reconstruction.begin() + static_cast<ptrdiff_t>(k * perBlock),
                                      reference.reconstruction.begin() + static_cast<ptrdiff_t>(k * perBlock + count));
        ASSERT_EQ(samples, expected) << "block " << k;
      }
      testing::internal::CaptureStdout();
      ASSERT_EQ(decompressOrbelAdpcmN64(wave), 0);
      printed = testing::internal::GetCapturedStdout();
      EXPECT_EQ(occurrences(printed, kDecodeWarning), reference.keptWarnings);
      EXPECT_EQ(recordSamples(wave), reference.reconstruction) << "signal " << s << " block " << blockBytes;
    }
  }
}

TEST_F(N64JobTest, LosingTrialsWarnToo) {
  // Full-scale noise drives the index past 88 in trials that lose.
  std::vector<int16_t> noise = whiteNoise(2000, 32767, 9);
  ReferenceStream reference = referenceN64Encode(noise, 68);
  ASSERT_GT(reference.indexWarnings, reference.keptWarnings);
  WaveFile wave = pcmRecord(noise);
  testing::internal::CaptureStdout();
  ASSERT_EQ(compressOrbelAdpcmN64(wave), 0);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(occurrences(printed, kEncodeWarning), reference.indexWarnings);
}

}  // namespace
