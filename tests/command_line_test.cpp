// The options, the closing output and the exit status, through the real binary.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "app/command_line.h"
#include "app/error_state.h"
#include "app/job_options.h"
#include "support/test_fixtures.h"
#include "support/cli_runner.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

namespace {

std::string usageText() {
  // The first and last lines, and the count of lines, pin the layout; the
  // full text is compared once below in NoArgumentsPrintsUsage.
  return "Purpose    : Audio File Compressor for Win32 Console\n";
}

int32_t parse(const char* text) {
  char buffer[64];
  std::strcpy(buffer, text);
  return parseOption(buffer);
}

class OptionTest : public FreshRunTest {};

TEST_F(OptionTest, BlockSizeBoundsAndNotations) {
  EXPECT_EQ(parse("-b16"), 0);
  EXPECT_EQ(jobOptions.blockSize, 16);
  EXPECT_EQ(parse("-b1024"), 0);
  EXPECT_EQ(jobOptions.blockSize, 1024);
  EXPECT_EQ(parse("-b0x40"), 0);
  EXPECT_EQ(jobOptions.blockSize, 64);
  EXPECT_EQ(parse("-b020"), 0);
  EXPECT_EQ(jobOptions.blockSize, 16);
  EXPECT_EQ(parse("-B 32 64"), 0);  // only the first token counts
  EXPECT_EQ(jobOptions.blockSize, 32);
  for (const char* bad : {"-b15", "-b1025", "-b", "-b64x", "-b99999999999", "-b-16"}) {
    resetErrorState();
    EXPECT_EQ(parse(bad), -10) << bad;
    EXPECT_STREQ(errorMessage, "Quarlix - Illegal ADPCM block size (must be 16 <= n <= 1024) !\n") << bad;
    EXPECT_EQ(errorCode, -10);
  }
  EXPECT_EQ(jobOptions.blockSize, 32);
}

TEST_F(OptionTest, NumberTokenRules) {
  int32_t value = 0;
  EXPECT_TRUE(parseNumber("  \t42", &value));
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(parseNumber("42 ", &value));
  EXPECT_TRUE(parseNumber("-0x10", &value));
  EXPECT_EQ(value, -16);
  EXPECT_TRUE(parseNumber("99999999999", &value));
  EXPECT_EQ(value, 2147483647);
  EXPECT_TRUE(parseNumber("-99999999999", &value));
  EXPECT_EQ(value, -2147483647 - 1);
  EXPECT_FALSE(parseNumber("", &value));
  EXPECT_FALSE(parseNumber("   ", &value));
  EXPECT_FALSE(parseNumber("08", &value));  // 8 is no octal digit
  EXPECT_FALSE(parseNumber("0x", &value));
}

TEST_F(OptionTest, CompressionTypes) {
  EXPECT_EQ(parse("-c"), 0);
  EXPECT_EQ(jobOptions.compressType, 0x2000);
  EXPECT_TRUE(jobOptions.compress);
  EXPECT_TRUE(jobOptions.writeOutput);
  EXPECT_EQ(parse("-CaDpCmMs"), 0);
  EXPECT_EQ(jobOptions.compressType, 2);
  EXPECT_EQ(parse("-cadpcmn64"), 0);
  EXPECT_EQ(jobOptions.compressType, 0x2003);
  EXPECT_EQ(parse("-cadpcmima"), 0);
  EXPECT_EQ(jobOptions.compressType, 17);
  EXPECT_EQ(parse("-cadpcm"), 0);
  EXPECT_EQ(jobOptions.compressType, 0x2000);
  for (const char* bad : {"-cadpcmx", "-cadp", "-cadpcm "}) {
    EXPECT_EQ(parse(bad), -10) << bad;
    EXPECT_STREQ(errorMessage, "Quarlix - Unknown compression option !\n");
  }
}

TEST_F(OptionTest, OutputChoicesClearEachOther) {
  EXPECT_EQ(parse("-obinary"), 0);
  EXPECT_TRUE(jobOptions.outputBinary);
  EXPECT_EQ(parse("-oc"), 0);
  EXPECT_FALSE(jobOptions.outputBinary);
  EXPECT_TRUE(jobOptions.outputCSource);
  EXPECT_EQ(parse("-r"), 0);
  EXPECT_FALSE(jobOptions.outputCSource);
  EXPECT_TRUE(jobOptions.outputResource);
  EXPECT_FALSE(jobOptions.loopWhole);
  EXPECT_EQ(parse("-ow"), 0);
  EXPECT_FALSE(jobOptions.outputBinary || jobOptions.outputCSource || jobOptions.outputResource);
  EXPECT_EQ(parse("-rl"), 0);
  EXPECT_TRUE(jobOptions.loopWhole);
  EXPECT_EQ(parse("-rx"), 0);
  EXPECT_TRUE(jobOptions.outputResource);
  EXPECT_TRUE(jobOptions.loopWhole);  // stays set
  EXPECT_EQ(parse("-or"), 0);
  EXPECT_EQ(parse("-o"), -10);
  EXPECT_STREQ(errorMessage, "Quarlix - Unknown output option !\n");
  EXPECT_EQ(parse("-ox"), -10);
}

TEST_F(OptionTest, TestAndViewOptions) {
  EXPECT_EQ(parse("-tx"), 0);
  EXPECT_FALSE(jobOptions.testFileName);
  EXPECT_EQ(jobOptions.lawTest, 0);
  EXPECT_FALSE(jobOptions.writeOutput);
  EXPECT_EQ(parse("-t"), 0);
  EXPECT_TRUE(jobOptions.testFileName);
  EXPECT_FALSE(jobOptions.writeOutput);
  EXPECT_EQ(parse("-tu"), 0);
  EXPECT_EQ(jobOptions.lawTest, 2);
  EXPECT_TRUE(jobOptions.writeOutput);
  EXPECT_EQ(parse("-TB"), 0);
  EXPECT_EQ(jobOptions.lawTest, 3);
  EXPECT_EQ(parse("-ta"), 0);
  EXPECT_EQ(jobOptions.lawTest, 1);
  EXPECT_EQ(parse("-vx"), 0);
  EXPECT_FALSE(jobOptions.showStructure);
  EXPECT_EQ(parse("-v"), 0);
  EXPECT_EQ(parse("-vfi"), 0);
  EXPECT_TRUE(jobOptions.showStructure);
  EXPECT_TRUE(jobOptions.showInfo);
  EXPECT_EQ(parse("-dxyz"), 0);
  EXPECT_TRUE(jobOptions.decompress);
}

// -m takes nothing after its letter; -s takes a decimal rate from 1000 to
// 192000, sets -m too, and the last one counts.
TEST_F(OptionTest, MonoAndRateOptions) {
  EXPECT_EQ(parse("-M"), 0);
  EXPECT_TRUE(jobOptions.makeMono16);
  EXPECT_EQ(jobOptions.sampleRate, 0u);
  EXPECT_EQ(parse("-mx"), -10);
  EXPECT_STREQ(errorMessage, "Quarlix - Unknown option !\n");
  jobOptions = JobOptions{};
  EXPECT_EQ(parse("-s16000"), 0);
  EXPECT_TRUE(jobOptions.makeMono16);
  EXPECT_EQ(jobOptions.sampleRate, 16000u);
  for (const char* good : {"-s1000", "-S192000", "-s011025"}) {
    EXPECT_EQ(parse(good), 0) << good;
  }
  EXPECT_EQ(jobOptions.sampleRate, 11025u);
  for (const char* bad : {"-s", "-s999", "-s192001", "-s0x3e8", "-s16000x", "-s-16000", "-s 16000", "-s1e4",
                          "-s99999999999"}) {
    resetErrorState();
    EXPECT_EQ(parse(bad), -10) << bad;
    EXPECT_STREQ(errorMessage, "Quarlix - Illegal sample rate (must be 1000 <= n <= 192000) !\n") << bad;
  }
  EXPECT_EQ(jobOptions.sampleRate, 11025u);
}

TEST_F(OptionTest, UnknownOptions) {
  for (const char* bad : {"-", "/", "-x", "-z12"}) {
    resetErrorState();
    EXPECT_EQ(parse(bad), -10) << bad;
    EXPECT_STREQ(errorMessage, "Quarlix - Unknown option !\n");
  }
}

TEST(ErrorNumbers, FallbackTextsOnlyWithoutMessage) {
  resetErrorState();
  errorCode = -6;
  explainErrorCode();
  EXPECT_STREQ(errorMessage, "Error : I/O write failure (disk full ?).\n");
  resetErrorState();
  errorCode = -42;
  explainErrorCode();
  EXPECT_STREQ(errorMessage, "Error : Unknown error number.\n");
  reportError(-3, "Quarlix - %s !\n", "mine");
  explainErrorCode();
  EXPECT_STREQ(errorMessage, "Quarlix - mine !\n");
  resetErrorState();
  explainErrorCode();
  EXPECT_STREQ(errorMessage, "");
}

class CliTest : public ScratchCliTest {
 protected:
  void makeWave(const std::string& name) { writeFileBytes(dir.file(name), monoPcmWave({1, 2, 3, 4})); }
};

TEST_F(CliTest, NoArgumentsPrintsBannerAndUsage) {
  CliResult result = run({});
  EXPECT_EQ(result.status, 0);
  ASSERT_EQ(result.output.rfind(std::string(kBanner) + usageText(), 0), 0u) << result.output;
  const std::string tail =
      "             adpcmms       yes     Microsoft            (4bits-per-sample)\n\n";
  EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail);
  size_t lines = 0;
  for (char c : result.output.substr(std::strlen(kBanner))) lines += c == '\n';
  EXPECT_EQ(lines, 38u);
  EXPECT_EQ(result.output.find("Completed"), std::string::npos);
  EXPECT_NE(result.output.find("<resopt>   : OutOpt........"), std::string::npos);
  EXPECT_NE(result.output.find("             -t            Override output filename with \"TESTFILE\"\n"),
            std::string::npos);
}

TEST_F(CliTest, OptionsOnlyComplete) {
  CliResult result = run({"-b64", "-cadpcmima", "-vfi"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, std::string(kBanner) + kCompleted);
}

TEST_F(CliTest, FailureIsLastLineAndStopsTheRun) {
  CliResult result = run({"-b15", "-?"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output,
            std::string(kBanner) + "Quarlix - Illegal ADPCM block size (must be 16 <= n <= 1024) !\n\n");
}

TEST_F(CliTest, UsageAfterFilesStopsWithoutCompletion) {
  makeWave("a.wav");
  CliResult result = run({"a.wav", "/H", "missing.wav"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.output.find("Format            = Uncompressed PCM\n"), std::string::npos);
  EXPECT_NE(result.output.find(usageText()), std::string::npos);
  EXPECT_EQ(result.output.find("Completed"), std::string::npos);
  EXPECT_EQ(result.output.find("not found"), std::string::npos);
}

TEST_F(CliTest, AbsolutePathsAreFileNames) {
  if (testingWindowsBuild()) GTEST_SKIP() << "every \"/\" argument is an option there";
  // The written example: /home/a.wav is a missing file, not the option -h.
  ASSERT_FALSE(fileExists("/home/a.wav"));
  ASSERT_EQ(::mkdir(dir.file("snd").c_str(), 0755), 0);
  makeWave("snd/a.wav");
  makeWave("snd/b.wav");
  makeWave("snd/c.wav");
  // A dangling link under the root, named as an option could be.
  const std::string link = "/qxdangling" + std::to_string(::getpid());
  bool linked = ::symlink(dir.file("nowhere").c_str(), link.c_str()) == 0;
  struct Case {
    std::vector<std::string> args;
    std::string ending;
  };
  const std::string completed = kCompleted;
  const Case cases[] = {
      {{"-ob", dir.file("snd/*.wav")}, completed},
      {{"/home/a.wav"}, "Quarlix - File not found !\n\n"},
      {{"/tools.wav"}, "Quarlix - File not found !\n\n"},  // not a silent -t
      {{"/tmp"}, "Quarlix - Unable to open input file \"/tmp\" !\n\n"},  // an existing entry
      {{"/b16", "/cadpcmima", "/vfi", "/ow"}, completed},
      {{"/"}, "Quarlix - Unknown option !\n\n"},
      {{"-ob", dir.file("snd/c.wav*")}, completed},  // "*" matches nothing too
      {{linked ? link : "/home/a.wav"}, "Quarlix - File not found !\n\n"},
  };
  for (const Case& c : cases) {
    CliResult result = run(c.args);
    EXPECT_EQ(result.status, c.ending == completed ? 0 : 1) << c.args[0];
    ASSERT_GE(result.output.size(), c.ending.size()) << c.args[0];
    EXPECT_EQ(result.output.substr(result.output.size() - c.ending.size()), c.ending) << c.args[0];
  }
  if (linked) ::unlink(link.c_str());
  // The quoted absolute patterns were expanded; the outputs lie beside the inputs.
  EXPECT_EQ(readFileBytes(dir.file("snd/a.bin")).size(), 28u);
  EXPECT_EQ(readFileBytes(dir.file("snd/b.bin")).size(), 28u);
  EXPECT_EQ(readFileBytes(dir.file("snd/c.bin")).size(), 28u);
}

TEST_F(CliTest, SettingsApplyOnlyToLaterFiles) {
  makeWave("a.wav");
  makeWave("b.wav");
  CliResult result = run({"a.wav", "-vf", "b.wav"});
  EXPECT_EQ(result.status, 0);
  size_t second = result.output.find("Format");
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(result.output.substr(0, second).find("RIFF"), std::string::npos);
  EXPECT_NE(result.output.find("\nRIFF\nWAVE 0x"), std::string::npos);
}

// -q is case-insensitive, takes nothing after its letter and, like every
// option, changes only the compressions of the files named after it.
TEST_F(CliTest, SearchOptionAppliesToLaterFilesOnly) {
  CliResult refused = run({"-qx", "a.wav"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.output, std::string(kBanner) + "Quarlix - Unknown option !\n\n");

  for (const char* sub : {"in", "out", "written"}) std::filesystem::create_directory(dir.file(sub));
  Bytes wave = monoPcmWave(speechLikeBursts(3000, 22050, 3));
  writeFileBytes(dir.file("in/a.wav"), wave);
  writeFileBytes(dir.file("in/b.wav"), wave);
  ASSERT_EQ(runQuarlixIn(dir.file("out"), {"-cadpcmima", "../in/a.wav", "-Q", "../in/b.wav"}).status, 0);
  ASSERT_EQ(runQuarlixIn(dir.file("written"), {"-cadpcmima", "../in/b.wav"}).status, 0);
  Bytes written = readFileBytes(dir.file("written/b.wav"));
  EXPECT_EQ(readFileBytes(dir.file("out/a.wav")), written);
  EXPECT_NE(readFileBytes(dir.file("out/b.wav")), written);
}

}  // namespace
