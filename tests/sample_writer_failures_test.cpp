// What each sample writer refuses, and how it fails to store: always with
// its message and exit status 1, never with a partial or a lost file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/block_format_wave.h"
#include "support/cli_runner.h"
#include "support/wav_builder.h"

namespace {

struct Writer {
  const char* option;
  const char* extension;
  const char* notMono;
  const char* wrongType;
};

const Writer kWriters[] = {
    {"-ob", ".bin", "Quarlix - Only mono samples can be output to BIN format !\n",
     "Quarlix - Can't convert this type of WAV file to BIN format !\n"},
    {"-oc", ".c", "Quarlix - Only mono samples can be output to 'C' source format !\n",
     "Quarlix - Can't convert this type of WAV file to 'C' source format !\n"},
    {"-or", ".sam", "Quarlix - Only mono samples can be converted to RES format !\n",
     "Quarlix - Can't convert this type of WAV file to RES format !\n"},
};

// Names the writer in test output instead of dumping the record's bytes.
void PrintTo(const Writer& writer, std::ostream* out) { *out << writer.option; }

const char* const kNot16Bit = "Quarlix - Only 16-bit PCM samples can be converted !\n";

Bytes withChannels(uint16_t tag, uint16_t channels, uint16_t bits) {
  Bytes fmt = formatContents(tag, channels, 8000, 16000, static_cast<uint16_t>(channels * 2), bits);
  appendLE16(fmt, 2);
  appendLE16(fmt, 64);
  return waveImage({chunk("fmt ", fmt), chunk("fact", factContents(64)), chunk("data", Bytes(256, 0x11))});
}

std::vector<std::string> directoryEntries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class SampleWriterFailure : public ::testing::TestWithParam<Writer> {
 protected:
  ScratchDir dir;
  std::string outputName() const { return std::string("in") + GetParam().extension; }
  std::string output() const { return dir.file(outputName()); }
  // Runs the writer on `wave` and expects the run to fail with `message`.
  void expectFailure(const Bytes& wave, const std::string& message) {
    writeFileBytes(dir.file("in.wav"), wave);
    CliResult result = runQuarlixIn(dir.path(), {GetParam().option, "in.wav"});
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.output.ends_with("\n\n" + message + "\n")) << result.output;
    EXPECT_EQ(result.output.find("Completed"), std::string::npos);
  }
};

TEST_P(SampleWriterFailure, RefusesWhatItCannotStore) {
  const Writer& w = GetParam();
  struct Case {
    Bytes wave;
    const char* message;
  } cases[] = {
      {waveImage({chunk("fmt ", pcmFormat(2, 8000, 16)), chunk("data", pcm16Contents({1, 2, 3, 4}))}), w.notMono},
      {waveImage({chunk("fmt ", pcmFormat(2, 8000, 8)), chunk("data", Bytes(8, 0x80))}), w.notMono},
      {withChannels(17, 2, 4), w.notMono},
      {withChannels(6, 2, 8), w.notMono},
      {waveImage({chunk("fmt ", pcmFormat(1, 8000, 8)), chunk("data", Bytes(8, 0x80))}), kNot16Bit},
      {withChannels(6, 1, 8), w.wrongType},
      {withChannels(7, 1, 8), w.wrongType},
      {withChannels(2, 1, 4), w.wrongType},
      {withChannels(85, 1, 4), w.wrongType},
  };
  for (const Case& c : cases) {
    expectFailure(c.wave, c.message);
    EXPECT_FALSE(fileExists(output()));
  }
}

TEST_P(SampleWriterFailure, RefusesBlockGeometryWithoutBlocks) {
  const Writer& w = GetParam();
  const Bytes data = patternBytes(64);
  const Bytes shortFmt = formatContents(17, 1, 8000, 4000, 32, 4);  // no wSamplesPerBlock
  const Bytes cases[] = {
      blockFormatWave(17, 8000, 0, 505, 100, data),
      blockFormatWave(0x2000, 8000, 32, 0, 100, data),
      blockFormatWave(0x2003, 8000, 0, 0, 100, data),
      blockFormatWave(49, 8000, 0, 320, 100, data),
      waveImage({chunk("fmt ", shortFmt), chunk("fact", factContents(100)), chunk("data", data)}),
      // A count beyond int32 that the blocks could hold.
      blockFormatWave(0x2000, 8000, 1, 65535, 0xFFFFFFFF, Bytes(40000, 0)),
  };
  writeFileBytes(output(), Bytes{'o', 'l', 'd'});
  for (const Bytes& wave : cases) {
    expectFailure(wave, w.wrongType);
    EXPECT_EQ(readFileBytes(output()), (Bytes{'o', 'l', 'd'}));
  }
}

TEST_P(SampleWriterFailure, TargetThatIsADirectoryCannotBeOpened) {
  ASSERT_EQ(::mkdir(output().c_str(), 0777), 0);
  expectFailure(monoPcmWave({1, 2, 3}), "Quarlix - Can't open output file \"" + outputName() + "\" !\n");
  EXPECT_TRUE(std::filesystem::is_directory(output()));
  EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{outputName(), "in.wav"}));
}

TEST_P(SampleWriterFailure, ShortWriteKeepsTheOldFile) {
  if (testingWindowsBuild()) GTEST_SKIP() << "no file-size limit there";
  // A file size limit makes the store fail part-way, as a full disk would.
  std::vector<int16_t> samples(20000, 1234);
  writeFileBytes(dir.file("in.wav"), monoPcmWave(samples));
  writeFileBytes(output(), Bytes{'o', 'l', 'd'});
  CliResult result = runProgramIn(dir.path(), "sh",
                                  {"-c", "trap '' XFSZ; ulimit -f 8; exec \"$0\" \"$@\"", QUARLIX_BIN,
                                   GetParam().option, "in.wav"});
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(result.status, 1);
  std::string message = "Quarlix - Can't write data to output file \"" + outputName() + "\" !\n\n";
  EXPECT_TRUE(result.output.ends_with(message)) << result.output;
  EXPECT_EQ(readFileBytes(output()), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{outputName(), "in.wav"}));
}

TEST_P(SampleWriterFailure, FullDeviceIsReported) {
  ASSERT_EQ(::symlink("/dev/full", output().c_str()), 0);
  expectFailure(monoPcmWave({1, 2, 3}), "Quarlix - Can't write data to output file \"" + outputName() + "\" !\n");
}

INSTANTIATE_TEST_SUITE_P(EachWriter, SampleWriterFailure, ::testing::ValuesIn(kWriters),
                         [](const ::testing::TestParamInfo<Writer>& info) {
                           return std::string(info.param.extension + 1);  // without the dot
                         });

}  // namespace
