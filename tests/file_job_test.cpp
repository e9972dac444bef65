// The per-file job through the real binary: patterns, identification,
// output naming and how failures end the run.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "app/file_job.h"
#include "support/test_fixtures.h"
#include "support/cli_runner.h"
#include "support/wav_builder.h"

namespace {

class FileJobTest : public ScratchCliTest {
 protected:
  void put(const std::string& name, const Bytes& bytes) { writeFileBytes(dir.file(name), bytes); }
  void expectFailure(const CliResult& result, const std::string& message) {
    EXPECT_EQ(result.status, 1);
    ASSERT_GE(result.output.size(), message.size() + 1);
    EXPECT_EQ(result.output.substr(result.output.size() - message.size() - 1), message + "\n");
    EXPECT_EQ(result.output.find("Completed"), std::string::npos);
  }
  static size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
};

TEST(SplitPath, PartsOfAPath) {
  std::string drive = "x", directory, base;
  splitPath("snd/sub/a.b.wav", drive, directory, base);
  EXPECT_EQ(drive, "");
  EXPECT_EQ(directory, "snd/sub/");
  EXPECT_EQ(base, "a.b");
  splitPath("noext", drive, directory, base);
  EXPECT_EQ(directory, "");
  EXPECT_EQ(base, "noext");
  splitPath("dir.d/file", drive, directory, base);
  EXPECT_EQ(directory, "dir.d/");
  EXPECT_EQ(base, "file");
}

TEST_F(FileJobTest, WavOutputReplacesInputInCurrentDirectory) {
  Bytes image = waveImage({chunk("fmt ", formatContents(1, 1, 8000, 16000, 4, 16)), chunk("cue ", {1, 2}),
                           chunk("data", pcm16Contents({5, -5}))});
  put("sound.wav", image);
  CliResult result = run({"-ow", "sound.wav"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output.substr(result.output.size() - std::string(kCompleted).size()), kCompleted);
  Bytes expected = waveImage({chunk("fmt ", pcmFormat(1, 8000, 16)), chunk("data", pcm16Contents({5, -5}))});
  EXPECT_EQ(readFileBytes(dir.file("sound.wav")), expected);
}

TEST_F(FileJobTest, LoadWithoutOutputOptionWritesNothing) {
  put("a.wav", monoPcmWave({1}));
  ::mkdir(dir.file("out").c_str(), 0755);
  CliResult result = runQuarlixIn(dir.file("out"), {"../a.wav", "-t", "../a.wav"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(count(result.output, "Format            = Uncompressed PCM"), 2u);
  EXPECT_FALSE(fileExists(dir.file("out/a.wav")));
  EXPECT_FALSE(fileExists(dir.file("out/TESTFILE.wav")));
}

TEST_F(FileJobTest, PatternWritesEachMatchIntoCurrentDirectoryInNameOrder) {
  ::mkdir(dir.file("snd").c_str(), 0755);
  ::mkdir(dir.file("snd/sub.wav").c_str(), 0755);  // a directory match is skipped
  writeFileBytes(dir.file("snd/b.wav"), monoPcmWave({2, 2}, 8000));
  writeFileBytes(dir.file("snd/a.wav"), monoPcmWave({1}, 11025));
  writeFileBytes(dir.file("snd/.hidden.wav"), Bytes(3, 0));  // hidden: never opened
  writeFileBytes(dir.file("snd/c.txt"), Bytes(3, 0));
  CliResult result = run({"-d", "snd/?.wav", "snd/*.wav"});
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(fileExists(dir.file("a.wav")));
  EXPECT_TRUE(fileExists(dir.file("b.wav")));
  EXPECT_EQ(count(result.output, "Format"), 4u);
  size_t a = result.output.find("= 11025");
  size_t b = result.output.find("= 8000");
  EXPECT_LT(a, b) << "matches run in name order";
  EXPECT_EQ(readFileBytes(dir.file("b.wav")), monoPcmWave({2, 2}, 8000)) << "-d on PCM writes it unchanged";
}

TEST_F(FileJobTest, PatternsThatMatchNothingOrOnlySkippedEntries) {
  ::mkdir(dir.file("only").c_str(), 0755);
  ::mkdir(dir.file("only/d.wav").c_str(), 0755);
  writeFileBytes(dir.file("only/.x.wav"), Bytes(3, 0));
  CliResult skipped = run({"only/*.wav"});
  EXPECT_EQ(skipped.status, 0);
  EXPECT_EQ(skipped.output, std::string(kBanner) + kCompleted);
  // Named on its own, a directory is no input file: the run must not report
  // success for a file it never processed.
  expectFailure(run({"only/d.wav"}), "Quarlix - Unable to open input file \"only/d.wav\" !\n");
  expectFailure(run({"only/*.aiff"}), "Quarlix - File not found !\n");
  expectFailure(run({"missing/*.wav"}), "Quarlix - File not found !\n");
  expectFailure(run({"absent.wav"}), "Quarlix - File not found !\n");
}

TEST_F(FileJobTest, UnidentifiableInputs) {
  Bytes good = monoPcmWave({1, 2, 3, 4});
  Bytes rifx = good;
  rifx[3] = 'X';
  Bytes avi = good;
  avi[8] = 'A';
  avi[9] = 'V';
  avi[10] = 'I';
  avi[11] = ' ';
  put("short.wav", Bytes(good.begin(), good.begin() + 31));
  put("rifx.wav", rifx);
  put("avi.wav", avi);
  for (const char* name : {"short.wav", "rifx.wav", "avi.wav"}) {
    expectFailure(run({name}), std::string("Quarlix - Unable to identify input file \"") + name + "\" !\n");
  }
  put("thirty-two.wav", Bytes(good.begin(), good.begin() + 32));
  expectFailure(run({"thirty-two.wav"}), "Quarlix - Unable to read \"fmt \" chunk !\n");
}

TEST_F(FileJobTest, SpecialFilesAreNotOpened) {
  if (testingWindowsBuild()) GTEST_SKIP() << "no FIFOs there";
  ASSERT_EQ(::mkfifo(dir.file("pipe.wav").c_str(), 0644), 0);
  expectFailure(run({"pipe.wav"}), "Quarlix - Unable to open input file \"pipe.wav\" !\n");
  // Among wildcard matches a pipe is a system entry and is passed over.
  put("real.wav", monoPcmWave({1}));
  CliResult result = run({"*.wav"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(count(result.output, "Format"), 1u);
}

TEST_F(FileJobTest, OverlongNames) {
  std::string longName(261, 'n');
  expectFailure(run({longName}), "Quarlix - File name too long !\n");
  std::string fits(255, 'n');
  expectFailure(run({fits}), "Quarlix - File not found !\n");
}

TEST_F(FileJobTest, OutputNamesFollowTheBaseName) {
  ::mkdir(dir.file("in").c_str(), 0755);
  writeFileBytes(dir.file("in/a.b.WAV"), monoPcmWave({1}));
  writeFileBytes(dir.file("in/noext"), monoPcmWave({2}));
  CliResult result = run({"-ow", "in/a.b.WAV", "in/noext", "-t", "in/noext"});
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(fileExists(dir.file("a.b.wav")));
  EXPECT_TRUE(fileExists(dir.file("noext.wav")));
  EXPECT_EQ(readFileBytes(dir.file("TESTFILE.wav")), monoPcmWave({2}));
  // A name whose only dot comes first has an empty base name; named on its
  // own it is processed, hidden or not.
  writeFileBytes(dir.file("in/.wav"), monoPcmWave({3}));
  ASSERT_EQ(run({"-ob", "in/.wav", "-ow", "in/.wav"}).status, 0);
  EXPECT_EQ(readFileBytes(dir.file("in/.bin")).size(), 24u);
  EXPECT_EQ(readFileBytes(dir.file(".wav")), monoPcmWave({3}));
}

TEST_F(FileJobTest, OnlyStarAndQuestionMarkAreWildcards) {
  ::mkdir(dir.file("snd").c_str(), 0755);
  std::vector<std::string> names = {"take[1]_a", "take1_b", "ab", "aXb", "ü", "üü"};
  // "?" stands for one character, however many bytes it takes.
  std::vector<std::string> args = {"-ob", "snd/take[1]*.wav", "snd/a?b.wav", "snd/?.wav"};
  std::vector<std::string> matched = {"take[1]_a", "aXb", "ü"};
  // On Windows "\\" separates folders.
  if (!testingWindowsBuild()) {
    names.push_back("a\\b");
    args.push_back("snd/a\\*.wav");
    matched.push_back("a\\b");
  }
  for (const std::string& name : names) writeFileBytes(dir.file("snd/" + name + ".wav"), monoPcmWave({1}));
  CliResult result = run(args);
  EXPECT_EQ(result.status, 0) << result.output;
  for (const std::string& name : matched) EXPECT_TRUE(fileExists(dir.file("snd/" + name + ".bin"))) << name;
  EXPECT_FALSE(fileExists(dir.file("snd/take1_b.bin")));
  EXPECT_FALSE(fileExists(dir.file("snd/ab.bin")));
  EXPECT_FALSE(fileExists(dir.file("snd/üü.bin")));
}

TEST_F(FileJobTest, SecondFileFailureStopsTheRun) {
  put("one.wav", monoPcmWave({1}));
  put("two.wav", waveImage({chunk("fmt ", pcmFormat(1, 8000, 16))}));
  put("three.wav", monoPcmWave({3}));
  ::mkdir(dir.file("out").c_str(), 0755);
  CliResult result = runQuarlixIn(dir.file("out"), {"-ow", "../one.wav", "../two.wav", "../three.wav"});
  expectFailure(result, "Quarlix - Missing \"data\" chunk !\n");
  EXPECT_TRUE(fileExists(dir.file("out/one.wav")));
  EXPECT_FALSE(fileExists(dir.file("out/three.wav")));
  EXPECT_EQ(count(result.output, "Format"), 1u) << "the failing file prints no information block";
}

TEST_F(FileJobTest, FailedWriteKeepsTheInput) {
  // The output would replace the input itself; one byte over the limit.
  Bytes big = waveImage({chunk("fmt ", pcmFormat(1, 8000, 16)), chunk("data", Bytes(1048534, 1))});
  put("big.wav", big);
  expectFailure(run({"-ow", "big.wav"}), "Quarlix - Unable the write chunk !\n");
  EXPECT_EQ(readFileBytes(dir.file("big.wav")), big);
}

}  // namespace
