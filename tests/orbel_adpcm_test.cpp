// Orbel ADPCM: the shared quantiser and error measure, the block codec and
// the two conversion jobs.
#include "codecs/orbel_adpcm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/orbel_quantiser.h"
#include "riff/byte_order.h"
#include "support/test_fixtures.h"
#include "support/orbel_reference.h"
#include "support/test_signals.h"
#include "support/wave_records.h"

namespace {

std::vector<int16_t> ramp(size_t count) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(100 * i);
  return samples;
}

std::vector<int16_t> decode(const Bytes& block, size_t count, AdpcmHistory& history) {
  std::vector<int16_t> samples(count);
  orbelDecodeBlock(block, samples, history);
  return samples;
}

class OrbelJobTest : public FreshRunTest {};

TEST(OrbelQuantiser, NearestCodeHalvesAwayFromZeroWithinRange) {
  EXPECT_EQ(orbelQuantise(0, 8), 0);
  EXPECT_EQ(orbelQuantise(4, 8), 1);
  EXPECT_EQ(orbelQuantise(3, 8), 0);
  EXPECT_EQ(orbelQuantise(-4, 8), -1);
  EXPECT_EQ(orbelQuantise(-3, 8), 0);
  EXPECT_EQ(orbelQuantise(12, 8), 2);
  EXPECT_EQ(orbelQuantise(-12, 8), -2);
  EXPECT_EQ(orbelQuantise(100, 8), 7);
  EXPECT_EQ(orbelQuantise(-100, 8), -8);
  EXPECT_EQ(orbelQuantise(-60, 8), -8);  // -7.5 rounds away to -8, inside the range
  EXPECT_EQ(orbelQuantise(35, 24), 1);   // 1.46
  EXPECT_EQ(orbelQuantise(36, 24), 2);   // 1.5
  EXPECT_EQ(orbelQuantise(131070, 8), 7);
  EXPECT_EQ(orbelQuantise(-131070, 8), -8);
}

TEST(OrbelQuantiser, ErrorMeasureIsUnsignedSquareOver128) {
  EXPECT_EQ(orbelSampleError(32703, -32768), 33487905u);  // 4286451841 / 128
  EXPECT_EQ(orbelSampleError(-32768, 32767), 4294836225u / 128);
  EXPECT_EQ(orbelSampleError(11, 0), 0u);  // 121 / 128
  EXPECT_EQ(orbelSampleError(0, 12), 1u);  // 144 / 128
  EXPECT_EQ(orbelSampleError(-5, -5), 0u);
}

TEST(OrbelAdpcmBlock, RampExampleTrialsBlockAndDecode) {
  std::vector<int16_t> x = ramp(8);
  const uint32_t totals[kOrbelEncoderSets] = {1, 15, 32, 5, 5, 16, 3};
  OrbelTrials trials;
  orbelEncodeTrials(x, x.size(), AdpcmHistory{}, trials);
  for (int set = 0; set < kOrbelEncoderSets; ++set) {
    EXPECT_EQ(trials.errorTotal[set], totals[set]) << "set " << set;
  }
  EXPECT_EQ(orbelEstimateStep(256, 0, x), 25);

  Bytes block(16, 0xEE);
  AdpcmHistory history{};
  orbelEncodeBlock(x, block, x.size(), history);
  Bytes coded = {0x18, 0x00, 0x05, 0x33, 0x43, 0x43};
  EXPECT_EQ(Bytes(block.begin(), block.begin() + 6), coded);
  EXPECT_EQ(Bytes(block.begin() + 6, block.end()), Bytes(10, 0xEE)) << "only header and codes are written";
  EXPECT_EQ(history.sample1, 692);
  EXPECT_EQ(history.sample2, 596);

  Bytes stored = coded;
  stored.resize(16, 0);
  AdpcmHistory decoded{};
  EXPECT_EQ(decode(stored, 8, decoded), (std::vector<int16_t>{0, 105, 204, 291, 395, 488, 596, 692}));
  EXPECT_EQ(decoded.sample1, 692);
  EXPECT_EQ(decoded.sample2, 596);
}

TEST(OrbelAdpcmBlock, EstimateUsesArithmeticShiftAndFloor) {
  // set 3 (192, 64): e2 = 0 - (-19392 >> 8) = 76, e3 = 600 - (-6464 >> 8) = 626,
  // e4 = -1 - (115200 >> 8) = -451. Truncating division would give 1151 / 12.
  std::vector<int16_t> x = {0, -101, 0, 600, -1};
  EXPECT_EQ(orbelEstimateStep(192, 64, x), (76 + 626 + 451) / 12);
  // e2 = 0 - (-192 >> 8) = 1, e3 = 0 - (-64 >> 8) = 1: tiny, floored at 8.
  std::vector<int16_t> y = {0, -1, 0, 0, 0};
  EXPECT_EQ(orbelEstimateStep(192, 64, y), 8);
}

TEST(OrbelAdpcmBlock, DecoderPredictsUnclampedAndClampsOnlySamples) {
  // Set 1 with s1 = 32767, s2 = -32768 predicts 98302; code -8 at step 8192
  // brings it back to 32766. A clamped prediction would give -32768.
  AdpcmHistory history{32767, -32768};
  EXPECT_EQ(decode({0x01, 0x20, 0x80}, 1, history), (std::vector<int16_t>{32766}));

  // A negative prediction rounds toward minus infinity: (192 * -1) >> 8 = -1.
  AdpcmHistory negative{-1, 0};
  EXPECT_EQ(decode({0x0B, 0x00, 0x00}, 1, negative), (std::vector<int16_t>{-1}));

  // Code 7 at step 65528 overshoots: the sample is clamped, the history holds
  // the clamped value.
  AdpcmHistory overshoot{};
  EXPECT_EQ(decode({0xFA, 0xFF, 0x70}, 1, overshoot), (std::vector<int16_t>{32767}));
  EXPECT_EQ(overshoot.sample1, 32767);
}

TEST(OrbelAdpcmBlock, SetSevenPredictsZeroAndStepStaysAtFloor) {
  AdpcmHistory history{1000, 2000};
  // step 8: code 1 gives 8, the step shrinks to 7 and is floored at 8, so code
  // 2 gives 16; code -1 gives -8. No trace of the history.
  EXPECT_EQ(decode({0x0F, 0x00, 0x12, 0xF0}, 3, history), (std::vector<int16_t>{8, 16, -8}));
  EXPECT_EQ(history.sample1, -8);
  EXPECT_EQ(history.sample2, 16);
}

TEST(OrbelAdpcmBlock, DamagedBlockGrowsStepOnlyToItsCeiling) {
  // Set 2 predicts 0, so each sample is step x code. Forty codes of -8 from
  // step 65528 would need far more than 64 bits; the step stops at 2^20.
  Bytes block = {0xFA, 0xFF};
  block.resize(2 + 20, 0x88);
  block.resize(2 + 40, 0x00);
  block.push_back(0x10);
  std::vector<int16_t> expected(81, 0);
  for (size_t i = 0; i < 40; ++i) expected[i] = -32768;
  int32_t step = 1 << 20;
  for (int i = 0; i < 40; ++i) step = (step * 230) >> 8;
  expected[80] = static_cast<int16_t>(step);
  AdpcmHistory history{};
  EXPECT_EQ(decode(block, 81, history), expected);
}

TEST(OrbelAdpcmBlock, SilenceCodesZeroFromSetZero) {
  std::vector<int16_t> silence(60, 0);
  Bytes block(32, 0xEE);
  AdpcmHistory history{};
  orbelEncodeBlock(silence, block, 60, history);
  Bytes expected(32, 0);
  expected[0] = 0x08;
  EXPECT_EQ(block, expected);
}

TEST(OrbelAdpcmBlock, ReferenceEncoderAgreesWithWorkedExample) {
  // Anchors the test-only reference that the stream tests compare against.
  ReferenceStream reference = referenceOrbelEncode(ramp(8), 16);
  Bytes expected = {0x18, 0x00, 0x05, 0x33, 0x43, 0x43};
  expected.resize(16, 0);
  EXPECT_EQ(reference.bytes, expected);
  EXPECT_EQ(reference.reconstruction, (std::vector<int16_t>{0, 105, 204, 291, 395, 488, 596, 692}));
}

TEST_F(OrbelJobTest, CompressionRecordAndShortLastBlock) {
  // 61 samples with the default block size: a silent block, then one holding
  // the single sample 1000 (history (0, 0)). Of the trials set 1 codes it
  // best: its estimate sees the zeros after it, e2 = 1000, S = 83, step 80,
  // code 7, r = 560, error 1512.
  std::vector<int16_t> input(61, 0);
  input[60] = 1000;
  WaveFile wave = pcmRecord(input);
  wave.loopStart = 3;
  wave.loopEnd = 50;
  Bytes smpl = smplContents(1, 0, 3, 49);
  wave.smpl.allocate(smpl.size());
  std::memcpy(wave.smpl.data(), smpl.data(), smpl.size());
  wave.smplChunk = {kFourCCSmpl, static_cast<uint32_t>(smpl.size()), 0, 0, 0};

  ASSERT_EQ(compressOrbelAdpcm(wave), 0);
  Bytes fmt = formatContents(0x2000, 1, 22050, 11760, 32, 4);
  appendLE16(fmt, 2);
  appendLE16(fmt, 60);
  EXPECT_EQ(recordBytes(wave.fmt), fmt);
  EXPECT_EQ(wave.fmtChunk.ckid, kFourCCFmt);
  EXPECT_EQ(wave.fmtChunk.cksize, 20u);
  EXPECT_EQ(recordBytes(wave.fact), factContents(61));
  EXPECT_EQ(wave.factChunk.cksize, 4u);
  Bytes data(64, 0);
  data[0] = 0x08;
  data[32] = 0x51;
  data[34] = 0x70;
  EXPECT_EQ(recordBytes(wave.data), data);
  EXPECT_EQ(wave.dataChunk.cksize, 64u);
  EXPECT_EQ(recordBytes(wave.smpl), smpl);
  EXPECT_EQ(wave.loopStart, 3u);
  EXPECT_EQ(wave.loopEnd, 50u);
  EXPECT_EQ(wave.sampleCount, 0);

  ASSERT_EQ(decompressOrbelAdpcm(wave), 0);
  std::vector<int16_t> expected(61, 0);
  expected[60] = 560;
  EXPECT_EQ(recordSamples(wave), expected);
  EXPECT_EQ(recordBytes(wave.fmt), pcmFormat(1, 22050, 16));
  EXPECT_EQ(wave.factChunk.ckid, 0u);
  EXPECT_FALSE(wave.fact);
  EXPECT_EQ(recordBytes(wave.smpl), smpl);
  EXPECT_EQ(wave.loopEnd, 50u);
}

TEST_F(OrbelJobTest, EmptyDataAndOddBlockSize) {
  WaveFile empty = pcmRecord({});
  ASSERT_EQ(compressOrbelAdpcm(empty), 0);
  EXPECT_EQ(recordBytes(empty.fact), factContents(0));
  EXPECT_EQ(empty.dataChunk.ckid, fourCC("data"));
  EXPECT_EQ(empty.dataChunk.cksize, 0u);
  ASSERT_EQ(decompressOrbelAdpcm(empty), 0);
  EXPECT_EQ(empty.dataChunk.cksize, 0u);

  jobOptions.blockSize = 17;
  std::vector<int16_t> noise = whiteNoise(100, 20000, 7);
  WaveFile wave = pcmRecord(noise, 8000);
  ASSERT_EQ(compressOrbelAdpcm(wave), 0);
  Bytes fmt = formatContents(0x2000, 1, 8000, 17 * 8000 / 30, 17, 4);
  appendLE16(fmt, 2);
  appendLE16(fmt, 30);
  EXPECT_EQ(recordBytes(wave.fmt), fmt);
  ReferenceStream reference = referenceOrbelEncode(noise, 17);
  EXPECT_EQ(recordBytes(wave.data), reference.bytes);
  ASSERT_EQ(decompressOrbelAdpcm(wave), 0);
  EXPECT_EQ(recordSamples(wave), reference.reconstruction);
}

TEST_F(OrbelJobTest, CompressionRefusesAllButSixteenBitMono) {
  struct Case {
    uint16_t channels, bits;
    const char* message;
  };
  const Case cases[] = {
      {2, 16, "Quarlix - Only mono samples can be compressed to Olbek's Adpcm !\n"},
      {2, 8, "Quarlix - Only mono samples can be compressed to Olbek's Adpcm !\n"},
      {1, 8, "Quarlix - Only 16-bit PCM samples can be compressed to Olbek's Adpcm !\n"},
  };
  for (const Case& c : cases) {
    Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
    WaveFile wave = waveRecord(pcmFormat(c.channels, 22050, c.bits), std::nullopt, data);
    const uint8_t* before = wave.data.data();
    EXPECT_EQ(compressOrbelAdpcm(wave), -10);
    EXPECT_EQ(errorCode, -10);
    EXPECT_STREQ(errorMessage, c.message);
    EXPECT_EQ(wave.data.data(), before);
    EXPECT_EQ(recordBytes(wave.data), data);
    EXPECT_EQ(recordBytes(wave.fmt), pcmFormat(c.channels, 22050, c.bits));
  }
  Bytes pcmTag = formatContents(3, 1, 22050, 88200, 4, 16);
  WaveFile floats = waveRecord(pcmTag, std::nullopt, Bytes(8, 0));
  EXPECT_EQ(compressOrbelAdpcm(floats), -10);
  EXPECT_STREQ(errorMessage, "Quarlix - Only 16-bit PCM samples can be compressed to Olbek's Adpcm !\n");
}

TEST_F(OrbelJobTest, DecompressionRefusesWhatItCannotDecodeSafely) {
  struct Case {
    uint16_t channels, bits, blockAlign, samplesPerBlock;
    uint32_t factCount;
    size_t fmtBytes;
    const char* message;
  };
  const Case cases[] = {
      {2, 4, 32, 60, 60, 20, "Quarlix - Only mono samples can be decompressed from Olbek's Adpcm !\n"},
      {2, 8, 32, 60, 60, 20, "Quarlix - Only mono samples can be decompressed from Olbek's Adpcm !\n"},
      {1, 8, 32, 60, 60, 20, "Quarlix - Only 4-bit adpcm samples can be decompressed from Olbek's Adpcm !\n"},
      {1, 4, 32, 60, 60, 18, "Quarlix - Invalid block layout in Olbek's Adpcm file !\n"},
      {1, 4, 0, 60, 60, 20, "Quarlix - Invalid block layout in Olbek's Adpcm file !\n"},
      {1, 4, 32, 0, 60, 20, "Quarlix - Invalid block layout in Olbek's Adpcm file !\n"},
      {1, 4, 32, 61, 60, 20, "Quarlix - Invalid block layout in Olbek's Adpcm file !\n"},
      {1, 4, 2, 1, 60, 20, "Quarlix - Invalid block layout in Olbek's Adpcm file !\n"},
      {1, 4, 32, 60, 0x80000000u, 20, "Quarlix - Too many samples in Olbek's Adpcm file !\n"},
      {1, 4, 32, 60, 0xFFFFFFFFu, 20, "Quarlix - Too many samples in Olbek's Adpcm file !\n"},
  };
  for (const Case& c : cases) {
    Bytes data(64, 0x77);
    WaveFile wave = blockRecord(0x2000, c.blockAlign, c.samplesPerBlock, c.factCount, data, c.channels, c.bits,
                                c.fmtBytes);
    EXPECT_EQ(decompressOrbelAdpcm(wave), -10) << c.message;
    EXPECT_EQ(errorCode, -10);
    EXPECT_STREQ(errorMessage, c.message);
    EXPECT_EQ(recordBytes(wave.data), data);
    EXPECT_EQ(readFormat(wave).wFormatTag, 0x2000);
  }
  WaveFile other = blockRecord(0x2003, 32, 56, 10, Bytes(32, 0));
  EXPECT_EQ(decompressOrbelAdpcm(other), -10);
  EXPECT_STREQ(errorMessage, "Quarlix - Only 4-bit adpcm samples can be decompressed from Olbek's Adpcm !\n");

  // The largest layout a block holds is accepted, and so is a count of 2^31 - 1.
  WaveFile full = blockRecord(0x2000, 32, 60, 0x7FFFFFFF, Bytes(64, 0x77));
  EXPECT_EQ(decompressOrbelAdpcm(full), 0);
  EXPECT_EQ(full.dataChunk.cksize, 2u * 120);
}

TEST_F(OrbelJobTest, DecodedCountIsFactBoundedByWholeBlocks) {
  // Three whole blocks of 28 samples plus 10 trailing bytes.
  Bytes silentBlock(16, 0);
  silentBlock[0] = 0x08;
  Bytes data;
  for (int k = 0; k < 3; ++k) data.insert(data.end(), silentBlock.begin(), silentBlock.end());
  data.resize(data.size() + 10, 0x77);
  const std::pair<uint32_t, uint32_t> cases[] = {{1000, 84}, {85, 84}, {84, 84}, {30, 30}, {0, 0}};
  for (auto [fact, decoded] : cases) {
    WaveFile wave = blockRecord(0x2000, 16, 28, fact, data);
    ASSERT_EQ(decompressOrbelAdpcm(wave), 0);
    EXPECT_EQ(wave.dataChunk.cksize, 2 * decoded) << "fact " << fact;
    EXPECT_EQ(recordSamples(wave), std::vector<int16_t>(decoded, 0));
  }
}

TEST_F(OrbelJobTest, StreamsDecodeToTheEncodersReconstruction) {
  const std::vector<std::vector<int16_t>> signals = {
      whiteNoise(20011, 32767, 1),
      whiteNoise(5000, 300, 2),
      linearChirp(22050, 22050, 20, 10000, 30000),
      fullScaleSquare(9001, 37),
      fullScaleSquare(3000, 1),
      silenceWithClicks(12000, 1500, -32768),
  };
  for (int32_t blockSize : {0, 16, 17, 1024}) {
    jobOptions.blockSize = blockSize;
    size_t blockBytes = blockSize == 0 ? 32 : static_cast<size_t>(blockSize);
    for (size_t s = 0; s < signals.size(); ++s) {
      ReferenceStream reference = referenceOrbelEncode(signals[s], blockBytes);
      WaveFile wave = pcmRecord(signals[s]);
      ASSERT_EQ(compressOrbelAdpcm(wave), 0);
      EXPECT_EQ(recordBytes(wave.data), reference.bytes) << "signal " << s << " block " << blockBytes;
      ASSERT_EQ(decompressOrbelAdpcm(wave), 0);
      EXPECT_EQ(recordSamples(wave), reference.reconstruction) << "signal " << s << " block " << blockBytes;
    }
  }
}

}  // namespace
