// IMA ADPCM: the codec on hand-worked codes, and both conversion jobs on
// in-memory records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/ima_adpcm.h"
#include "quarlix_decode.h"
#include "support/test_fixtures.h"
#include "support/test_signals.h"
#include "support/wave_records.h"
#include "support/block_format_wave.h"

namespace {

ImaState stateOf(int16_t predictor, int8_t stepIndex) {
  ImaState state;
  state.predictor = predictor;
  state.stepIndex = stepIndex;
  return state;
}

// Decodes `count` codes through the device library's block decoder: a
// block whose header holds the state, then the codes.
std::vector<int16_t> decode(const Bytes& codes, size_t count, const ImaState& state) {
  Bytes block{static_cast<uint8_t>(state.predictor), static_cast<uint8_t>(static_cast<uint16_t>(state.predictor) >> 8),
              static_cast<uint8_t>(state.stepIndex), 0};
  block.insert(block.end(), codes.begin(), codes.end());
  std::vector<int16_t> out(count + 1, 12345);
  qx_ima_decode_block(block.data(), block.size(), out.data(), out.size());
  EXPECT_EQ(out[0], state.predictor);
  return std::vector<int16_t>(out.begin() + 1, out.end());
}

// Worked by hand from the step and index tables: code 7 at step 7 adds
// 0 + 7 + 3 + 1; code 15 at step 16 subtracts 2 + 16 + 8 + 4; code 0 at step
// 34 adds 34 >> 3; code 8 at step 31 subtracts 31 >> 3.
TEST(ImaCodec, DecodesLowNibbleFirst) {
  EXPECT_EQ(decode({0xF7, 0x80}, 4, ImaState{}), (std::vector<int16_t>{11, -19, -15, -18}));
}

TEST(ImaCodec, OddCountUsesOnlyTheLowNibbleOfTheLastByte) {
  EXPECT_EQ(decode({0xF7, 0x80}, 3, ImaState{}), (std::vector<int16_t>{11, -19, -15}));
}

TEST(ImaCodec, DecodeNeverReadsPastTheCodes) {
  std::vector<int16_t> out = decode({0x07}, 4, ImaState{});
  EXPECT_EQ(out, (std::vector<int16_t>{11, 11 + 2, 12345, 12345}));  // code 0 at step 16 adds 2
}

TEST(ImaCodec, PredictorAndStepIndexStayInRange) {
  // Step 32767 at index 88: code 0 still adds 4095 and saturates; the index
  // drops to 87, whose step 29794 code 8 then takes 3724 off.
  EXPECT_EQ(decode({0x80}, 2, stateOf(32000, 88)), (std::vector<int16_t>{32767, 32767 - 3724}));
  EXPECT_EQ(decode({0x08}, 1, stateOf(-32000, 88)), (std::vector<int16_t>{-32768}));
  // Code 7 from index 85 (step 24623) saturates and lands on 88, where code
  // 8 takes 32767 >> 3 off.
  EXPECT_EQ(decode({0x77, 0x08}, 3, stateOf(0, 85)), (std::vector<int16_t>{32767, 32767, 32767 - 4095}));
  // The index stays at 0 below the table: code 4 then adds step 7.
  EXPECT_EQ(decode({0x00, 0x04}, 3, stateOf(0, 0)), (std::vector<int16_t>{0, 0, 7}));
}

TEST(ImaCodec, EncodesToTheHandWorkedCodes) {
  // 100 from 0 at step 7: every magnitude bit is set (7, 3, 1 taken from 93),
  // so 0 + 7 + 3 + 1 = 11 is reconstructed. -100 from 11 at step 16: 15.
  ImaState state;
  std::vector<int16_t> input{100, -100};
  Bytes codes(1, 0xAA);
  imaEncode(input, codes, state);
  EXPECT_EQ(codes, (Bytes{0xF7}));
  EXPECT_EQ(state.predictor, -19);
  EXPECT_EQ(state.stepIndex, 16);
  EXPECT_EQ(state.reserved, 0);
}

TEST(ImaCodec, EncoderThresholdsAreInclusive) {
  // A difference equal to the step sets bit 2; 6 at step 7 sets bits 1 and 0.
  ImaState exact;
  std::vector<int16_t> seven{7};
  Bytes codes(1, 0xAA);
  imaEncode(seven, codes, exact);
  EXPECT_EQ(codes, (Bytes{0x04}));
  EXPECT_EQ(exact.predictor, 7);
  EXPECT_EQ(exact.stepIndex, 2);
  ImaState below;
  std::vector<int16_t> six{6};
  imaEncode(six, codes, below);
  EXPECT_EQ(codes, (Bytes{0x03}));
  EXPECT_EQ(below.predictor, 4);
  EXPECT_EQ(below.stepIndex, 0);
}

TEST(ImaCodec, EncoderSaturatesLikeTheDecoder) {
  ImaState state = stateOf(32000, 88);
  std::vector<int16_t> input{32767};
  Bytes codes(1);
  imaEncode(input, codes, state);
  EXPECT_EQ(codes, (Bytes{0x00}));
  EXPECT_EQ(state.predictor, 32767);
  EXPECT_EQ(state.stepIndex, 87);
}

TEST(ImaCodec, DecodingTheCodesRetracesTheEncoder) {
  Samples input = speechLikeBursts(4000, 8000, 7);
  Samples noise = whiteNoise(1001, 30000, 3);
  input.insert(input.end(), noise.begin(), noise.end());
  ImaState encoder = stateOf(input[0], 0);
  Bytes codes((input.size() - 1 + 1) / 2);
  imaEncode(std::span<const int16_t>(input).subspan(1), codes, encoder);
  std::vector<int16_t> out = decode(codes, input.size() - 1, stateOf(input[0], 0));
  EXPECT_EQ(out.back(), encoder.predictor);
  double signal = 0, error = 0;
  for (size_t i = 0; i + 1 < 4000; ++i) {
    signal += double(input[i + 1]) * input[i + 1];
    error += double(out[i] - input[i + 1]) * (out[i] - input[i + 1]);
  }
  EXPECT_GT(signal, 100 * error);  // better than 20 dB on the speech part
}

class ImaJobTest : public FreshRunTest {};

TEST_F(ImaJobTest, OneFullBlockAndItsFormat) {
  Samples input = linearChirp(505, 22050, 200, 5000, 20000);
  WaveFile wave = pcmRecord(input);
  ASSERT_EQ(compressIma(wave), 0);
  // nAvgBytesPerSec = 256 * 22050 / 505, truncated.
  Bytes fmt = formatContents(17, 1, 22050, 11177, 256, 4);
  appendLE16(fmt, 2);
  appendLE16(fmt, 505);
  EXPECT_EQ(recordBytes(wave.fmt), fmt);
  EXPECT_EQ(wave.fmtChunk.cksize, 20u);
  EXPECT_EQ(recordBytes(wave.fact), factContents(505));
  ASSERT_EQ(wave.data.size(), 256u);
  EXPECT_EQ(wave.dataChunk.cksize, 256u);
  Bytes header(wave.data.data(), wave.data.data() + 4);
  EXPECT_EQ(header, (Bytes{static_cast<uint8_t>(input[0]), static_cast<uint8_t>(input[0] >> 8), 0, 0}));
}

TEST_F(ImaJobTest, StepIndexRunsOnAcrossBlocksAndTheTailIsSilence) {
  // Full-scale alternation drives the index to 88 within the first block.
  Samples input = fullScaleSquare(506, 1);
  input[505] = 1000;
  WaveFile wave = pcmRecord(input);
  ASSERT_EQ(compressIma(wave), 0);
  ASSERT_EQ(wave.data.size(), 512u);
  const uint8_t* second = wave.data.data() + 256;
  EXPECT_EQ(wave.data.data()[2], 0);
  EXPECT_EQ((Bytes{second[0], second[1], second[2], second[3]}), (Bytes{0xE8, 0x03, 88, 0}));
  // The 504 codes after the last real sample encode zeros from that header.
  ImaState state = stateOf(1000, 88);
  Samples zeros(504, 0);
  Bytes expected(252);
  imaEncode(zeros, expected, state);
  EXPECT_EQ(Bytes(second + 4, second + 256), expected);
  EXPECT_EQ(recordBytes(wave.fact), factContents(506));
}

TEST_F(ImaJobTest, BlockSizeOptionAndEmptyInput) {
  jobOptions.blockSize = 16;
  WaveFile wave = pcmRecord(whiteNoise(51, 1000, 5), 8000);
  ASSERT_EQ(compressIma(wave), 0);
  EXPECT_EQ(readFormat(wave).nBlockAlign, 16);
  EXPECT_EQ(readFormat(wave).wSamplesPerBlock, 25);
  EXPECT_EQ(readFormat(wave).nAvgBytesPerSec, 16u * 8000 / 25);
  EXPECT_EQ(wave.data.size(), 48u);  // 51 samples: three blocks of 25

  WaveFile empty = pcmRecord({});
  ASSERT_EQ(compressIma(empty), 0);
  EXPECT_EQ(recordBytes(empty.fact), factContents(0));
  EXPECT_EQ(empty.data.size(), 0u);
  EXPECT_TRUE(empty.data);
}

TEST_F(ImaJobTest, RoundTripKeepsCountRateAndLoop) {
  Samples input = speechLikeBursts(3000, 11025, 11);
  WaveFile wave = pcmRecord(input, 11025);
  wave.loopStart = 10;
  wave.loopEnd = 2000;
  ASSERT_EQ(compressIma(wave), 0);
  ASSERT_EQ(decompressIma(wave), 0);
  EXPECT_EQ(recordBytes(wave.fmt), pcmFormat(1, 11025, 16));
  EXPECT_FALSE(wave.fact);
  EXPECT_EQ(wave.factChunk.ckid, 0u);
  ASSERT_EQ(recordSamples(wave).size(), input.size());
  EXPECT_EQ(wave.loopStart, 10u);
  EXPECT_EQ(wave.loopEnd, 2000u);
  // Every block restarts from the exact first sample of its input.
  for (size_t i = 0; i < input.size(); i += 505) EXPECT_EQ(recordSamples(wave)[i], input[i]) << i;
}

// Two 8-byte blocks holding 9 samples each (the most that fits).
Bytes twoBlocks() {
  return {0xE8, 0x03, 0, 0, 0x07, 0, 0, 0,  // 1000, then 1011 and 8 more codes
          0x10, 0x27, 8, 9, 0x0F, 0, 0, 0};  // 10000, index 8, reserved 9 ignored
}

TEST_F(ImaJobTest, EveryBlockRestartsFromItsHeader) {
  WaveFile wave = waveRecord(blockFormatContents(17, 8000, 8, 9, 4), factContents(18), twoBlocks());
  ASSERT_EQ(decompressIma(wave), 0);
  std::vector<int16_t> out = recordSamples(wave);
  ASSERT_EQ(out.size(), 18u);
  EXPECT_EQ(out[0], 1000);
  EXPECT_EQ(out[1], 1011);
  EXPECT_EQ(out[9], 10000);
  EXPECT_EQ(out[10], 10000 - 30);  // code 15 at step 16
}

TEST_F(ImaJobTest, SampleCountIsBoundedByTheWholeBlocks) {
  Bytes data = twoBlocks();
  data.push_back(0x55);  // a trailing partial block is dropped
  WaveFile longFact = waveRecord(blockFormatContents(17, 8000, 8, 9, 4), factContents(100), data);
  ASSERT_EQ(decompressIma(longFact), 0);
  EXPECT_EQ(recordSamples(longFact).size(), 18u);
  WaveFile shortFact = waveRecord(blockFormatContents(17, 8000, 8, 9, 4), factContents(11), twoBlocks());
  ASSERT_EQ(decompressIma(shortFact), 0);
  EXPECT_EQ(recordSamples(shortFact).size(), 11u);
  EXPECT_EQ(recordSamples(shortFact)[10], 10000 - 30);
}

TEST_F(ImaJobTest, EvenSamplesPerBlockLeavesTheLastHighNibbleUnused) {
  WaveFile wave = waveRecord(blockFormatContents(17, 8000, 8, 4, 4), factContents(4), {0, 0, 0, 0, 0x77, 0xF7, 0, 0});
  ASSERT_EQ(decompressIma(wave), 0);
  // Three codes 7 at steps 7, 16 and 34; the unused high nibble would subtract.
  EXPECT_EQ(recordSamples(wave), (std::vector<int16_t>{0, 11, 41, 104}));
}

TEST_F(ImaJobTest, HeaderStepIndexBeyondTheTableIsBoundedTo88) {
  for (uint8_t index : {89, 127, 128, 255}) {
    Bytes block{0xE8, 0x03, index, 0, 0x07, 0x08};
    WaveFile wave = waveRecord(blockFormatContents(17, 8000, 6, 5, 4), factContents(5), block);
    ASSERT_EQ(decompressIma(wave), 0) << int(index);
    // From step 32767: code 7 saturates, code 0 adds 4095 and drops to index
    // 87, code 8 there (step 29794) subtracts 3724, code 0 at step 27086
    // adds 3385.
    EXPECT_EQ(recordSamples(wave), (std::vector<int16_t>{1000, 32767, 32767, 29043, 32428}))
        << int(index);
  }
}

struct Refusal {
  const char* what;
  Bytes fmt;
  Bytes fact;
  const char* message;
};

TEST_F(ImaJobTest, RefusesWhatItCannotDecodeAndLeavesTheRecord) {
  const char* layout = "Quarlix - Invalid block layout in IMA Adpcm file !\n";
  Bytes shortFmt = formatContents(17, 1, 8000, 4000, 8, 4);
  std::vector<Refusal> cases = {
      {"stereo", formatContents(17, 2, 8000, 4000, 8, 4), factContents(9),
       "Quarlix - Only mono samples can be decompressed from IMA Adpcm !\n"},
      {"3-bit", blockFormatContents(17, 8000, 8, 9, 3), factContents(9),
       "Quarlix - Only 4-bit adpcm samples can be decompressed from IMA Adpcm !\n"},
      {"wrong tag", blockFormatContents(2, 8000, 8, 9, 4), factContents(9),
       "Quarlix - Only 4-bit adpcm samples can be decompressed from IMA Adpcm !\n"},
      {"nBlockAlign 0", blockFormatContents(17, 8000, 0, 9, 4), factContents(9), layout},
      {"nBlockAlign below the header", blockFormatContents(17, 8000, 3, 1, 4), factContents(9), layout},
      {"wSamplesPerBlock 0", blockFormatContents(17, 8000, 8, 0, 4), factContents(9), layout},
      {"wSamplesPerBlock beyond the block", blockFormatContents(17, 8000, 8, 10, 4), factContents(9), layout},
      {"fmt without wSamplesPerBlock", shortFmt, factContents(9), layout},
      {"fact of 2^31", blockFormatContents(17, 8000, 8, 9, 4), factContents(0x80000000u),
       "Quarlix - Too many samples in IMA Adpcm file !\n"},
  };
  for (const Refusal& c : cases) {
    resetErrorState();
    WaveFile wave = waveRecord(c.fmt, c.fact, twoBlocks());
    EXPECT_EQ(decompressIma(wave), kErrorRefused) << c.what;
    EXPECT_EQ(errorCode, kErrorRefused) << c.what;
    EXPECT_STREQ(errorMessage, c.message) << c.what;
    EXPECT_EQ(recordBytes(wave.fmt), c.fmt) << c.what;
    EXPECT_EQ(recordBytes(wave.data), twoBlocks()) << c.what;
  }
}

TEST_F(ImaJobTest, RefusesToCompressAnythingButMono16BitPcm) {
  WaveFile stereo = waveRecord(pcmFormat(2, 8000, 16), std::nullopt, Bytes(8));
  EXPECT_EQ(compressIma(stereo), kErrorRefused);
  EXPECT_STREQ(errorMessage, "Quarlix - Only mono samples can be compressed to IMA Adpcm !\n");
  WaveFile eightBit = waveRecord(pcmFormat(1, 8000, 8), std::nullopt, Bytes(8));
  EXPECT_EQ(compressIma(eightBit), kErrorRefused);
  EXPECT_STREQ(errorMessage, "Quarlix - Only 16-bit PCM samples can be compressed to IMA Adpcm !\n");
  EXPECT_EQ(recordBytes(eightBit.fmt), pcmFormat(1, 8000, 8));
  EXPECT_EQ(eightBit.data.size(), 8u);
}

}  // namespace
