// The Orbel codecs through the real binary: written files, information
// blocks, round trips and the N64 warnings on standard output.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/block_format_wave.h"
#include "support/cli_runner.h"
#include "support/orbel_reference.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

namespace {

const std::string kEncodeWarning = "\nWarning - iIndex > 88 during ADPCMN64 compression !\n";
const std::string kDecodeWarning = "\nWarning - iIndex > 88 during ADPCMN64 decompression !\n";

std::string pcmInfo(size_t samples) {
  return "\nFormat            = Uncompressed PCM\nChannels          = 1\nSamples-per-sec   = 22050\n"
         "AvgBytes-per-sec  = 44100\nBlock Align       = 2\nBits-per-sample   = 16\nTotal Samples     = " +
         std::to_string(samples) + "\n\n";
}

std::string repeated(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

std::vector<int16_t> mixedSignal() {
  std::vector<int16_t> signal = linearChirp(3000, 22050, 50, 9000, 25000);
  std::vector<int16_t> noise = whiteNoise(1001, 32767, 5);
  std::vector<int16_t> square = fullScaleSquare(301, 1);  // drives the N64 index past 88
  signal.insert(signal.end(), noise.begin(), noise.end());
  signal.insert(signal.end(), square.begin(), square.end());
  return signal;
}

// The input lies in a subdirectory; the WAV output lands beside the test as out.wav.
class OrbelCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir.file("in"));
    writeFileBytes(dir.file("in/out.wav"), monoPcmWave(signal));
  }
  CliResult run(std::vector<std::string> options) {
    options.push_back("in/out.wav");
    return runQuarlixIn(dir.path(), options);
  }
  Bytes written() { return readFileBytes(dir.file("out.wav")); }

  ScratchDir dir;
  std::vector<int16_t> signal = mixedSignal();
};

TEST_F(OrbelCliTest, CompressWritesTheFileAndItsInformationBlock) {
  CliResult result = run({"-c"});
  EXPECT_EQ(result.output, kBanner + pcmInfo(signal.size()) + kCompleted);
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(result.status, 0);
  Bytes fmt = formatContents(0x2000, 1, 22050, 11760, 32, 4);
  appendLE16(fmt, 2);
  appendLE16(fmt, 60);
  ReferenceStream reference = referenceOrbelEncode(signal, 32);
  EXPECT_EQ(written(),
            waveImage({chunk("fmt ", fmt), chunk("fact", factContents(4302)), chunk("data", reference.bytes)}));

  CliResult info = runQuarlixIn(dir.path(), {"-vi", "out.wav"});
  EXPECT_EQ(info.output, std::string(kBanner) +
                             "\nFormat            = Orbel ADPCM\nChannels          = 1\nSamples-per-sec   = 22050\n"
                             "AvgBytes-per-sec  = 11760\nBlock Align       = 32\nBits-per-sample   = 4\n"
                             "Total Samples     = 4302\nSamples-per-block = 60\n\n" +
                             kCompleted);
}

TEST_F(OrbelCliTest, CompressN64WritesTheFileAndItsInformationBlock) {
  CliResult result = run({"-cadpcmn64", "-b20"});
  ReferenceStream reference = referenceN64Encode(signal, 20);
  EXPECT_EQ(result.output, kBanner + pcmInfo(signal.size()) + repeated(kEncodeWarning, reference.indexWarnings) +
                               kCompleted);
  EXPECT_EQ(result.status, 0);
  Bytes fmt = formatContents(0x2003, 1, 22050, 20 * 22050 / 32, 20, 4);
  appendLE16(fmt, 2);
  appendLE16(fmt, 32);
  EXPECT_EQ(written(),
            waveImage({chunk("fmt ", fmt), chunk("fact", factContents(4302)), chunk("data", reference.bytes)}));

  CliResult info = runQuarlixIn(dir.path(), {"-vi", "out.wav"});
  EXPECT_NE(info.output.find("Format            = Orbel ADPCM-N64\n"), std::string::npos);
  EXPECT_NE(info.output.find("Total Samples     = 4302\nSamples-per-block = 32\n"), std::string::npos);
}

TEST_F(OrbelCliTest, RoundTripsReproduceTheReconstruction) {
  for (const char* blockSize : {"-b32", "-b17", "-b1024"}) {
    size_t blockBytes = std::stoul(blockSize + 2);
    CliResult result = run({"-c", blockSize, "-d"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(written(), monoPcmWave(referenceOrbelEncode(signal, blockBytes).reconstruction)) << blockSize;
  }
  for (const char* blockSize : {"-b68", "-b16", "-b1024"}) {
    size_t blockBytes = std::stoul(blockSize + 2);
    ReferenceStream reference = referenceN64Encode(signal, blockBytes);
    ASSERT_GT(reference.keptWarnings, 0u);
    CliResult result = run({"-cadpcmn64", blockSize, "-d"});
    // Every trial's warnings while compressing, then the kept ones again.
    EXPECT_EQ(result.output, kBanner + pcmInfo(signal.size()) + repeated(kEncodeWarning, reference.indexWarnings) +
                                 repeated(kDecodeWarning, reference.keptWarnings) + kCompleted)
        << blockSize;
    EXPECT_EQ(written(), monoPcmWave(reference.reconstruction)) << blockSize;
  }
}

TEST_F(OrbelCliTest, DecodesStepsOfFullScaleHeaders) {
  // Two 4-byte blocks whose header words have bit 15 set: 0x8000 (pair
  // (256, 0), step 32768) and 0xFFFC (pair (240, 0), step 65528); the history
  // runs on from the first block into the second. Worked by hand:
  //   0 + 32768*0 = 0                step (32768*230)>>8 = 29440
  //   0 - 29440 = -29440             step 26450
  //   -29440 + 26450 = -2990         step 23763
  //   -2990 + 23763 = 20773
  //   (240*20773)>>8 = 19474         step (65528*230)>>8 = 58872
  //   (240*19474)>>8 = 18256         step 52892
  //   (240*18256)>>8 = 17115         step 47520
  //   (240*17115)>>8 - 47520 = 16045 - 47520 = -31475
  Bytes data = {0x00, 0x80, 0x0F, 0x11, 0xFC, 0xFF, 0x00, 0x0F};
  writeFileBytes(dir.file("in/out.wav"), blockFormatWave(0x2000, 22050, 4, 4, 8, data));
  CliResult result = run({"-d"});
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(written(), monoPcmWave({0, -29440, -2990, 20773, 19474, 18256, 17115, -31475}));
}

TEST_F(OrbelCliTest, RefusedDecompressionStopsTheRun) {
  Bytes fmt = formatContents(0x2000, 1, 22050, 11760, 0, 4);
  appendLE16(fmt, 2);
  appendLE16(fmt, 60);
  writeFileBytes(dir.file("in/out.wav"),
                 waveImage({chunk("fmt ", fmt), chunk("fact", factContents(60)), chunk("data", Bytes(32, 0))}));
  CliResult result = run({"-d"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors, "");
  const std::string message = "Quarlix - Invalid block layout in Olbek's Adpcm file !\n\n";
  ASSERT_GE(result.output.size(), message.size());
  EXPECT_EQ(result.output.substr(result.output.size() - message.size()), message);
  EXPECT_FALSE(fileExists(dir.file("out.wav")));
}

}  // namespace
