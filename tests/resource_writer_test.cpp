// The resource-script output end to end: its exact lines for PCM (stored as
// kib-law codes) and for the block formats.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/block_format_wave.h"
#include "support/cli_runner.h"
#include "support/wav_builder.h"

namespace {

std::string crlfLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// Eight blanks, the value left-aligned in 16 columns, " # " and the name.
std::string param(const std::string& value, const std::string& name) {
  return std::string(8, ' ') + value + std::string(16 - value.size(), ' ') + " # " + name;
}

std::vector<std::string> head(const std::string& name) {
  return {"#", "# audio file converted by QUARLIX", "#", "", "file \"" + name + ".bin\"", "",
          "resource \"SAM-" + name + ".16\"", "", "dwords"};
}

// The bytes as "[" + up to 32 two-digit items + "]" lines.
std::vector<std::string> hexLines(const Bytes& bytes) {
  const char* digits = "0123456789ABCDEF";
  std::vector<std::string> lines;
  for (size_t at = 0; at < bytes.size(); at += 32) {
    std::string line = "[";
    for (size_t i = at; i < bytes.size() && i < at + 32; ++i) {
      line += digits[bytes[i] >> 4];
      line += digits[bytes[i] & 15];
    }
    lines.push_back(line + "]");
  }
  return lines;
}

std::vector<std::string> join(const std::vector<std::vector<std::string>>& parts) {
  std::vector<std::string> lines;
  for (const auto& part : parts) lines.insert(lines.end(), part.begin(), part.end());
  return lines;
}

const std::vector<std::string> kTail = {"", "endresource", "", "endfile"};

class ResourceWriter : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string convert(const std::string& base, const Bytes& wave, const std::vector<std::string>& options = {"-r"}) {
    writeFileBytes(dir.file(base + ".wav"), wave);
    std::vector<std::string> args = options;
    args.push_back(base + ".wav");
    CliResult result = runQuarlixIn(dir.path(), args);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_FALSE(fileExists(dir.file(base + ".bin"))) << "the .sam writer names a .bin but writes none";
    if (!fileExists(dir.file(base + ".sam"))) return "";
    Bytes text = readFileBytes(dir.file(base + ".sam"));
    return std::string(text.begin(), text.end());
  }
};

TEST_F(ResourceWriter, DrumPcmAsKibLawCodes) {
  Bytes drum = monoPcmWave({0, 8, -8, 32767, -32768}, 11025);
  std::vector<std::string> params = {param("1", "Kib's not-quite-ulaw"), param("5", "length"),
                                     param("0", "loop start"), param("0", "loop end"),
                                     param("11025", "root frequency"), param("-2147483648", "fade rate"), ""};
  EXPECT_EQ(convert("drum", drum), crlfLines(join({head("drum"), params, {"[0001007F80]", "[000000]"}, kTail})));

  params[3] = param("5", "loop end");
  EXPECT_EQ(convert("drum", drum, {"-rl"}),
            crlfLines(join({head("drum"), params, {"[0001007F80]", "[000000]"}, kTail})));
}

TEST_F(ResourceWriter, PcmLoopFromSmpl) {
  Bytes wave = waveImage({chunk("fmt ", pcmFormat(1, 22050, 16)), chunk("data", pcm16Contents({0, 0, 0, 0})),
                          chunk("smpl", smplContents(1, 0, 1, 2))});
  std::string text = convert("loop", wave, {"-or"});
  EXPECT_NE(text.find(param("1", "loop start") + "\r\n" + param("3", "loop end") + "\r\n"), std::string::npos)
      << text;
}

TEST_F(ResourceWriter, GsmCountsTwoSamplesPerStoredOne) {
  Bytes data = patternBytes(130);
  std::string text = convert("speech", blockFormatWave(49, 8000, 65, 320, 640, data), {"-rl", "-r"});
  std::vector<std::string> params = {param("4", "GSM 06.10"),         param("1280", "length"),
                                     param("0", "loop start"),        param("0", "loop end"),
                                     param("16000", "root frequency"), param("-2147483648", "fade rate"),
                                     "",
                                     param("320", "samples-per-block"), param("65", "block align")};
  std::vector<std::string> lines = hexLines(data);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4].size(), 6u);  // the last two bytes
  EXPECT_EQ(text, crlfLines(join({head("speech"), params, lines, {"[0000]"}, kTail})));
}

TEST_F(ResourceWriter, BlockFormats) {
  // 120 samples in blocks of 60 are 64 bytes: two full lines, no padding line.
  Bytes data = patternBytes(64);
  std::string text = convert("orb", blockFormatWave(0x2000, 22050, 32, 60, 120, data));
  std::vector<std::string> params = {param("5", "Orbel ADPCM"),       param("120", "length"),
                                     param("0", "loop start"),        param("0", "loop end"),
                                     param("22050", "root frequency"), param("-2147483648", "fade rate"),
                                     "",
                                     param("60", "samples-per-block"), param("32", "block align")};
  EXPECT_EQ(text, crlfLines(join({head("orb"), params, hexLines(data), kTail})));

  text = convert("ima", blockFormatWave(17, 44100, 256, 505, 1010, patternBytes(512)), {"-rl", "-r"});
  EXPECT_NE(text.find("\r\n" + param("3", "IMA ADPCM") + "\r\n" + param("1010", "length") + "\r\n" +
                      param("0", "loop start") + "\r\n" + param("1010", "loop end") + "\r\n" +
                      param("44100", "root frequency") + "\r\n"),
            std::string::npos)
      << text;
  text = convert("n64", blockFormatWave(0x2003, 8000, 9, 16, 32, patternBytes(18)));
  EXPECT_NE(text.find("\r\n" + param("6", "Orbel ADPCM-N64") + "\r\n" + param("32", "length") + "\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\r\n" + hexLines(patternBytes(18))[0] + "\r\n[0000]\r\n"), std::string::npos);
}

TEST_F(ResourceWriter, ParametersAreSigned32BitDwords) {
  std::string text = convert("fast", monoPcmWave({0, 0, 0, 0}, 3000000000u));
  EXPECT_NE(text.find("\r\n" + param("-1294967296", "root frequency") + "\r\n"), std::string::npos) << text;
  // Twice 0x90000000 leaves 0x20000000 in 32 bits.
  text = convert("gsm", blockFormatWave(49, 0x90000000u, 65, 320, 320, patternBytes(65)));
  EXPECT_NE(text.find("\r\n" + param("536870912", "root frequency") + "\r\n"), std::string::npos) << text;
}

TEST_F(ResourceWriter, TestNameBesideTheInput) {
  ::mkdir(dir.file("snd").c_str(), 0777);
  writeFileBytes(dir.file("snd/x.wav"), monoPcmWave({0, 0, 0, 0}));
  CliResult result = runQuarlixIn(dir.path(), {"-t", "-r", "snd/x.wav"});
  EXPECT_EQ(result.status, 0);
  Bytes bytes = readFileBytes(dir.file("snd/TESTFILE.sam"));
  std::string text(bytes.begin(), bytes.end());
  EXPECT_TRUE(text.starts_with(crlfLines(head("TESTFILE")))) << text;
  EXPECT_FALSE(fileExists(dir.file("TESTFILE.sam")));
}

}  // namespace
