// Conversions straight into the sample outputs: what -c and -d leave in the
// record is what the .bin, .c and .sam files hold, checked against the WAV
// output of the same conversion (a different writer).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/cli_runner.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

namespace {

uint16_t be16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }
uint32_t be32(const Bytes& b, size_t at) { return static_cast<uint32_t>(be16(b, at)) << 16 | be16(b, at + 2); }
uint16_t le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

Bytes swapPairs(Bytes bytes) {
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  return bytes;
}

class ConversionOutputs : public ::testing::Test {
 protected:
  ScratchDir dir;
  void SetUp() override {
    // 0.3 s of speech-like sound at 22050 Hz: several blocks in every format.
    writeFileBytes(dir.file("in.wav"), monoPcmWave(speechLikeBursts(6615, 22050, 11), 22050));
  }
  CliResult run(std::vector<std::string> args, const std::string& input = "in.wav") {
    args.push_back(input);
    CliResult result = runQuarlixIn(dir.path(), args);
    EXPECT_EQ(result.errors, "");
    return result;
  }
  // The same conversion written as a WAV file, read back.
  Bytes wavOf(const std::vector<std::string>& conversion) {
    ::mkdir(dir.file("wav").c_str(), 0755);
    std::vector<std::string> args = conversion;
    args.push_back("../in.wav");
    EXPECT_EQ(runQuarlixIn(dir.file("wav"), args).status, 0);
    return readFileBytes(dir.file("wav/in.wav"));
  }
};

TEST_F(ConversionOutputs, CompressedBlocksGoStraightIntoTheBinFile) {
  struct Case {
    const char* option;
    uint8_t type;
  };
  for (Case c : {Case{"-c", 5}, Case{"-cadpcmn64", 6}, Case{"-cadpcmima", 3}}) {
    SCOPED_TRACE(c.option);
    Bytes wav = wavOf({c.option, "-b40"});
    Bytes fmt = chunkContents(wav, "fmt ");
    Bytes data = chunkContents(wav, "data");
    uint32_t fact = loadLE32At(chunkContents(wav, "fact"), 0);
    ASSERT_EQ(run({c.option, "-b40", "-ob"}).status, 0);
    Bytes bin = readFileBytes(dir.file("in.bin"));
    uint32_t spb = le16(fmt, 18);
    uint32_t n = std::min(fact, static_cast<uint32_t>(data.size() / 40) * spb);
    uint32_t q = n / spb, r = n % spb;
    // Only what the samples need of a partial last block goes out.
    size_t length = c.type == 6 ? 40 * ((n + spb - 1) / spb)
                    : c.type == 5 ? 40 * q + (r > 0 ? 2 + (r + 1) / 2 : 0)
                                  : 40 * q + (r > 0 ? 4 + 4 * ((r - 1 + 7) / 8) : 0);
    ASSERT_EQ(bin.size(), 20 + length + (4 - length % 4) % 4);
    EXPECT_EQ(bin[0], 0x1A);
    EXPECT_EQ(bin[1], c.type);
    EXPECT_EQ(be16(bin, 2), 22050);
    EXPECT_EQ(be16(bin, 4), spb) << "samples per block";
    EXPECT_EQ(be16(bin, 6), 40) << "block bytes";
    EXPECT_EQ(be32(bin, 8), n);
    EXPECT_EQ(Bytes(bin.begin() + 20, bin.begin() + 20 + static_cast<long>(length)),
              Bytes(data.begin(), data.begin() + static_cast<long>(length)));
  }
}

TEST_F(ConversionOutputs, RoundTripPcmInTheBinAndResourceFiles) {
  Bytes wav = wavOf({"-c", "-d"});
  Bytes data = chunkContents(wav, "data");
  ASSERT_EQ(data.size(), 2u * 6615);
  ASSERT_EQ(run({"-c", "-d", "-ob"}).status, 0);
  Bytes bin = readFileBytes(dir.file("in.bin"));
  EXPECT_EQ(bin[1], 1);
  EXPECT_EQ(be32(bin, 8), 6615u);
  EXPECT_EQ(Bytes(bin.begin() + 20, bin.begin() + 20 + static_cast<long>(data.size())), swapPairs(data))
      << "16-bit PCM lands high byte first";
  ASSERT_EQ(run({"-cadpcmima", "-d", "-rl"}).status, 0);
  std::string sam = [&] {
    Bytes bytes = readFileBytes(dir.file("in.sam"));
    return std::string(bytes.begin(), bytes.end());
  }();
  EXPECT_NE(sam.find("        6615             # length\r\n"), std::string::npos) << sam;
  EXPECT_NE(sam.find("        6615             # loop end\r\n"), std::string::npos) << sam;
}

TEST_F(ConversionOutputs, MicrosoftAdpcmHasNoSampleOutput) {
  CliResult result = run({"-cadpcmms", "-ob"});
  EXPECT_EQ(result.status, 1);
  EXPECT_FALSE(fileExists(dir.file("in.bin")));
  EXPECT_NE(result.output.find("Quarlix - "), std::string::npos);
  EXPECT_EQ(result.output.find("Completed"), std::string::npos);
  // Decoded, the same file is PCM and goes out.
  EXPECT_EQ(run({"-cadpcmms", "-d", "-ob"}).status, 0);
  EXPECT_EQ(readFileBytes(dir.file("in.bin"))[1], 1);
}

TEST_F(ConversionOutputs, GsmDataAndDecodedGsmInTheSampleOutputs) {
  // A GSM file as sox writes it, 1 s of speech-like sound at 8000 Hz.
  writeFileBytes(dir.file("pcm.wav"), monoPcmWave(speechLikeBursts(8000, 8000, 5), 8000));
  ASSERT_EQ(runProgramIn(dir.path(), "sox", {"pcm.wav", "-e", "gsm-full-rate", "speech.wav"}).status, 0)
      << "sox is a required test tool";
  Bytes gsm = readFileBytes(dir.file("speech.wav"));
  Bytes gsmData = chunkContents(gsm, "data");
  uint32_t fact = loadLE32At(chunkContents(gsm, "fact"), 0);
  uint32_t wholeBlocks = static_cast<uint32_t>(gsmData.size() / 65) * 320;
  uint32_t n = std::min(fact, wholeBlocks);

  ASSERT_EQ(run({"-ob"}, "speech.wav").status, 0);
  Bytes bin = readFileBytes(dir.file("speech.bin"));
  EXPECT_EQ(bin[1], 4);
  EXPECT_EQ(be16(bin, 6), 65);
  EXPECT_EQ(be32(bin, 8), n);
  ASSERT_EQ(run({"-or"}, "speech.wav").status, 0);
  Bytes samBytes = readFileBytes(dir.file("speech.sam"));
  std::string sam(samBytes.begin(), samBytes.end());
  char line[64];
  std::snprintf(line, sizeof line, "        %-16u # length\r\n", 2 * n);
  EXPECT_NE(sam.find(line), std::string::npos) << sam;
  EXPECT_NE(sam.find("        16000            # root frequency\r\n"), std::string::npos) << sam;

  ::mkdir(dir.file("wav").c_str(), 0755);
  ASSERT_EQ(runQuarlixIn(dir.file("wav"), {"-d", "../speech.wav"}).status, 0);
  Bytes decoded = chunkContents(readFileBytes(dir.file("wav/speech.wav")), "data");
  ASSERT_EQ(decoded.size(), 2u * n);
  ASSERT_EQ(run({"-d", "-ob"}, "speech.wav").status, 0);
  bin = readFileBytes(dir.file("speech.bin"));
  EXPECT_EQ(bin[1], 1);
  EXPECT_EQ(be32(bin, 8), n);
  EXPECT_EQ(Bytes(bin.begin() + 20, bin.begin() + 20 + static_cast<long>(decoded.size())), swapPairs(decoded));
}

}  // namespace
