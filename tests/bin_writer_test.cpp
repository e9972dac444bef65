// The .bin output end to end: header fields, data byte order, padding, the
// sample count of block formats and where the file lands.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/block_format_wave.h"
#include "support/cli_runner.h"
#include "support/wav_builder.h"

namespace {

void appendBE16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void appendBE32(Bytes& out, uint32_t v) {
  appendBE16(out, v >> 16);
  appendBE16(out, v);
}

Bytes header(uint8_t type, uint16_t freq, uint16_t blkdata, uint16_t blksize, uint32_t samples, uint32_t loop1st,
             uint32_t loopend) {
  Bytes out = {0x1A, type};
  appendBE16(out, freq);
  appendBE16(out, blkdata);
  appendBE16(out, blksize);
  appendBE32(out, samples);
  appendBE32(out, loop1st);
  appendBE32(out, loopend);
  return out;
}

std::vector<int16_t> ramp(size_t count) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>(static_cast<int>(i) * 131 - 30000);
  return samples;
}

// High byte first, as the .bin stores 16-bit PCM.
Bytes bigEndianSamples(const std::vector<int16_t>& samples) {
  Bytes out;
  for (int16_t s : samples) appendBE16(out, static_cast<uint16_t>(s));
  return out;
}

Bytes firstBytes(const Bytes& bytes, size_t count) { return Bytes(bytes.begin(), bytes.begin() + count); }

class BinWriter : public ::testing::Test {
 protected:
  ScratchDir dir;
  // Writes the input, runs quarlix with `options` and the input, and
  // returns the .bin file it wrote beside it.
  Bytes convert(const Bytes& wave, const std::vector<std::string>& options = {"-ob"}) {
    writeFileBytes(dir.file("in.wav"), wave);
    std::vector<std::string> args = options;
    args.push_back("in.wav");
    CliResult result = runQuarlixIn(dir.path(), args);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(result.output.ends_with(kCompleted)) << result.output;
    return fileExists(dir.file("in.bin")) ? readFileBytes(dir.file("in.bin")) : Bytes{};
  }
};

TEST_F(BinWriter, PcmHeaderIsBigEndianAndSamplesHighByteFirst) {
  std::vector<int16_t> samples = ramp(500);
  Bytes out = convert(monoPcmWave(samples, 22050));
  ASSERT_EQ(out.size(), 1020u);
  EXPECT_EQ(firstBytes(out, 20),
            (Bytes{0x1A, 0x01, 0x56, 0x22, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x01, 0xF4, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(out.begin() + 20, out.end()), bigEndianSamples(samples));
}

TEST_F(BinWriter, PcmPaddingAndOddByte) {
  std::vector<int16_t> samples = ramp(501);
  Bytes out = convert(monoPcmWave(samples));
  ASSERT_EQ(out.size(), 20u + 1002u + 2u);
  EXPECT_EQ(firstBytes(out, 12), firstBytes(header(1, 22050, 1, 2, 501, 0, 0), 12));
  EXPECT_EQ(Bytes(out.begin() + 20, out.begin() + 1022), bigEndianSamples(samples));
  EXPECT_EQ(Bytes(out.end() - 2, out.end()), (Bytes{0, 0}));

  Bytes odd = concat({pcm16Contents(ramp(3)), Bytes{0xEE}});
  out = convert(waveImage({chunk("fmt ", pcmFormat(1, 22050, 16)), chunk("data", odd)}));
  EXPECT_EQ(out, concat({header(1, 22050, 1, 2, 3, 0, 0), bigEndianSamples(ramp(3)), Bytes{0, 0}}));
}

TEST_F(BinWriter, RateKeepsItsLowSixteenBits) {
  EXPECT_EQ(firstBytes(convert(monoPcmWave({1, 2}, 48000)), 4), (Bytes{0x1A, 0x01, 0xBB, 0x80}));
  EXPECT_EQ(firstBytes(convert(monoPcmWave({1, 2}, 70000)), 4), (Bytes{0x1A, 0x01, 0x11, 0x70}));
}

TEST_F(BinWriter, LoopFromSmplCommentOrWholeSample) {
  std::vector<int16_t> samples = ramp(300);
  Bytes smpl = chunk("smpl", smplContents(1, 0, 100, 199));
  Bytes pcm = waveImage({chunk("fmt ", pcmFormat(1, 22050, 16)), chunk("data", pcm16Contents(samples)), smpl});
  EXPECT_EQ(firstBytes(convert(pcm), 20), header(1, 22050, 1, 2, 300, 100, 200));

  Bytes commented = waveImage({chunk("fmt ", pcmFormat(1, 22050, 16)), chunk("data", pcm16Contents(samples)),
                               infoComment("10 0x1F")});
  EXPECT_EQ(firstBytes(convert(commented), 20), header(1, 22050, 1, 2, 300, 10, 32));

  EXPECT_EQ(firstBytes(convert(pcm, {"-rl", "-ob"}), 20), header(1, 22050, 1, 2, 300, 0, 300));
}

TEST_F(BinWriter, OrbelAdpcmPartialBlockLength) {
  // 130 samples in blocks of 60: two whole blocks, then a block header of 2
  // bytes and 5 bytes for the last 10 samples.
  Bytes data = patternBytes(96);
  Bytes out = convert(blockFormatWave(0x2000, 22050, 32, 60, 130, data));
  EXPECT_EQ(out, concat({header(5, 22050, 60, 32, 130, 0, 0), firstBytes(data, 71), Bytes{0}}));
}

TEST_F(BinWriter, ImaAdpcmPartialBlockLength) {
  // 1020 samples in blocks of 505: two whole blocks, then the 4-byte header
  // with the first sample and two groups of 8 for the other 9.
  Bytes data = patternBytes(768);
  Bytes out = convert(blockFormatWave(17, 22050, 256, 505, 1020, data));
  EXPECT_EQ(out, concat({header(3, 22050, 505, 256, 1020, 0, 0), firstBytes(data, 524)}));
}

TEST_F(BinWriter, GsmAndN64Lengths) {
  Bytes gsm = patternBytes(130);
  EXPECT_EQ(convert(blockFormatWave(49, 8000, 65, 320, 640, gsm)),
            concat({header(4, 8000, 320, 65, 640, 0, 0), gsm, Bytes{0, 0}}));
  // A partial last N64 block counts whole.
  Bytes n64 = patternBytes(50);
  EXPECT_EQ(convert(blockFormatWave(0x2003, 11025, 9, 16, 70, n64)),
            concat({header(6, 11025, 16, 9, 70, 0, 0), firstBytes(n64, 45), Bytes{0, 0, 0}}));
}

TEST_F(BinWriter, FactCountCutToWholeBlocks) {
  Bytes data = patternBytes(64);
  Bytes out = convert(blockFormatWave(0x2000, 22050, 32, 60, 500, data), {"-rl", "-ob"});
  EXPECT_EQ(out, concat({header(5, 22050, 60, 32, 120, 0, 120), data}));
}

TEST_F(BinWriter, LandsBesideTheInputUnderItsOrTheTestName) {
  ::mkdir(dir.file("snd").c_str(), 0777);
  writeFileBytes(dir.file("snd/x.wav"), monoPcmWave({1, 2}));
  writeFileBytes(dir.file("snd/x.bin"), Bytes(100, 0xAA));
  CliResult result = runQuarlixIn(dir.path(), {"-ob", "snd/x.wav"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFileBytes(dir.file("snd/x.bin")).size(), 24u);  // the old file is replaced
  EXPECT_FALSE(fileExists(dir.file("x.bin")));

  result = runQuarlixIn(dir.path(), {"-t", "-ob", "snd/x.wav"});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(fileExists(dir.file("snd/TESTFILE.bin")));
  EXPECT_FALSE(fileExists(dir.file("TESTFILE.bin")));
}

}  // namespace
