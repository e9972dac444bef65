// The C source output end to end: its exact lines, and the array compiled
// with the system's C compiler holding exactly the .bin file's bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
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

// The lines before the data of a 22050 Hz PCM array of `samples` samples
// without a loop.
std::vector<std::string> pcmHead(const std::string& name, const std::string& samplesLine) {
  return {"/*",
          "** Audio file converted by QUARLIX.",
          "**",
          "** This structure must be 4-byte aligned in memory.",
          "*/",
          "",
          "unsigned char " + name + "_bin [] =",
          "{",
          "0x1Au,                      /* head    */",
          "0x01u,                      /* type    */",
          "0x56u,0x22u,                /* freq    */",
          "0x00u,0x01u,                /* blkdata */",
          "0x00u,0x02u,                /* blksize */",
          samplesLine + "    /* samples */",
          "0x00u,0x00u,0x00u,0x00u,    /* loop1st */",
          "0x00u,0x00u,0x00u,0x00u,    /* loopend */",
          ""};
}

std::vector<std::string> plus(std::vector<std::string> lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class CSourceWriter : public ::testing::Test {
 protected:
  ScratchDir dir;
  CliResult run(const std::vector<std::string>& args) {
    CliResult result = runQuarlixIn(dir.path(), args);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.status, 0) << result.output;
    return result;
  }
  // The .c file written for `wave` stored as base + ".wav".
  std::string convert(const std::string& base, const Bytes& wave, const std::vector<std::string>& options = {}) {
    writeFileBytes(dir.file(base + ".wav"), wave);
    std::vector<std::string> args = options;
    args.push_back("-oc");
    args.push_back(base + ".wav");
    run(args);
    return fileExists(dir.file(base + ".c")) ? asText(readFileBytes(dir.file(base + ".c"))) : "";
  }
};

TEST_F(CSourceWriter, FourSamplesFillOneLineWithoutComma) {
  std::string text = convert("four", monoPcmWave({0x0102, 0x0304, 0x0506, 0x0708}));
  EXPECT_EQ(text, crlfLines(plus(pcmHead("four", "0x00u,0x00u,0x00u,0x04u,"),
                                 {"0x01u,0x02u,0x03u,0x04u,0x05u,0x06u,0x07u,0x08u", "};"})));
}

TEST_F(CSourceWriter, FiveSamplesEndWithAPaddingLine) {
  std::string text = convert("five", monoPcmWave({0x0102, 0x0304, 0x0506, 0x0708, 0x090A}));
  EXPECT_EQ(text, crlfLines(plus(pcmHead("five", "0x00u,0x00u,0x00u,0x05u,"),
                                 {"0x01u,0x02u,0x03u,0x04u,0x05u,0x06u,0x07u,0x08u,0x09u,0x0Au,",
                                  "0x00u,0x00u", "};"})));
}

TEST_F(CSourceWriter, SeventeenBytesMakeTwoDataLinesAndPadding) {
  Bytes data = patternBytes(32);
  std::string text = convert("orb", blockFormatWave(0x2000, 22050, 32, 60, 30, data));
  std::vector<std::string> lines = {"/*",
                                    "** Audio file converted by QUARLIX.",
                                    "**",
                                    "** This structure must be 4-byte aligned in memory.",
                                    "*/",
                                    "",
                                    "unsigned char orb_bin [] =",
                                    "{",
                                    "0x1Au,                      /* head    */",
                                    "0x05u,                      /* type    */",
                                    "0x56u,0x22u,                /* freq    */",
                                    "0x00u,0x3Cu,                /* blkdata */",
                                    "0x00u,0x20u,                /* blksize */",
                                    "0x00u,0x00u,0x00u,0x1Eu,    /* samples */",
                                    "0x00u,0x00u,0x00u,0x00u,    /* loop1st */",
                                    "0x00u,0x00u,0x00u,0x00u,    /* loopend */",
                                    ""};
  std::string first, second;
  char item[8];
  for (size_t i = 0; i < 16; ++i) {
    std::snprintf(item, sizeof item, "0x%02Xu,", data[i]);
    first += item;
  }
  std::snprintf(item, sizeof item, "0x%02Xu,", data[16]);
  second = item;
  EXPECT_EQ(text, crlfLines(plus(lines, {first, second, "0x00u,0x00u,0x00u", "};"})));
}

TEST_F(CSourceWriter, EmptyDataAndNamesTakenAsTheyAre) {
  std::string text = convert("my sound", monoPcmWave({}));
  EXPECT_EQ(text, crlfLines(plus(pcmHead("my sound", "0x00u,0x00u,0x00u,0x00u,"), {"};"})));

  ::mkdir(dir.file("snd").c_str(), 0777);
  writeFileBytes(dir.file("snd/x.wav"), monoPcmWave({}));
  run({"-t", "-oc", "snd/x.wav"});
  EXPECT_EQ(asText(readFileBytes(dir.file("snd/TESTFILE.c"))),
            crlfLines(plus(pcmHead("TESTFILE", "0x00u,0x00u,0x00u,0x00u,"), {"};"})));
}

// The .c file compiled into a program that writes out its array.
class CompiledArray : public CSourceWriter {
 protected:
  void expectArrayEqualsBin(const Bytes& wave, const std::vector<std::string>& options = {}) {
    writeFileBytes(dir.file("snd.wav"), wave);
    std::vector<std::string> args = options;
    args.push_back("-ob");
    args.push_back("snd.wav");
    run(args);
    args[args.size() - 2] = "-oc";
    run(args);
    Bytes bin = readFileBytes(dir.file("snd.bin"));
    Bytes dumper;
    appendText(dumper,
               "#include <stdio.h>\n"
               "#include \"snd.c\"\n"
               "int main(void) { return fwrite(snd_bin, 1, sizeof snd_bin, stdout) == sizeof snd_bin ? 0 : 1; }\n");
    writeFileBytes(dir.file("dump.c"), dumper);
    CliResult compiled = runProgramIn(dir.path(), "cc", {"-std=c99", "-Wall", "-Wextra", "-pedantic", "-Werror",
                                                         "-o", "dump", "dump.c"});
    ASSERT_EQ(compiled.status, 0) << compiled.output << compiled.errors;
    CliResult dumped = runProgramIn(dir.path(), "./dump", {});
    ASSERT_EQ(dumped.status, 0);
    EXPECT_EQ(dumped.output, asText(bin));
  }
};

TEST_F(CompiledArray, PcmWithLoop) {
  std::vector<int16_t> samples;
  for (int i = 0; i < 301; ++i) samples.push_back(static_cast<int16_t>(i * 217 - 32768));
  Bytes smpl = chunk("smpl", smplContents(1, 0, 17, 250));
  expectArrayEqualsBin(
      waveImage({chunk("fmt ", pcmFormat(1, 44100, 16)), chunk("data", pcm16Contents(samples)), smpl}));
}

TEST_F(CompiledArray, ImaAdpcm) {
  expectArrayEqualsBin(blockFormatWave(17, 22050, 256, 505, 1020, patternBytes(768)), {"-rl"});
}

TEST_F(CompiledArray, Gsm) { expectArrayEqualsBin(blockFormatWave(49, 8000, 65, 320, 640, patternBytes(130))); }

TEST_F(CompiledArray, OrbelAdpcm) {
  expectArrayEqualsBin(blockFormatWave(0x2000, 22050, 32, 60, 130, patternBytes(96)));
}

TEST_F(CompiledArray, OrbelAdpcmN64) {
  expectArrayEqualsBin(blockFormatWave(0x2003, 32000, 9, 16, 70, patternBytes(50)), {"-rl"});
}

}  // namespace
