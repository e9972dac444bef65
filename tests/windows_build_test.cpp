// The Windows build, quarlix.exe under Wine (make windows-test), against the
// Linux build: every output format and option gives the same files and
// prints the same bytes. Then what only Windows has: drive letters,
// backslashes, "/" options, attributes and wide names.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <bit>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "support/cli_runner.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

namespace {

namespace fs = std::filesystem;

std::map<std::string, Bytes> filesBelow(const std::string& root) {
  std::map<std::string, Bytes> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files[entry.path().string().substr(root.size())] = readFileBytes(entry.path());
  }
  return files;
}

// Names the files that differ rather than printing their bytes.
void expectSameFiles(const std::map<std::string, Bytes>& actual, const std::map<std::string, Bytes>& expected) {
  std::vector<std::string> actualNames, expectedNames;
  for (const auto& [name, bytes] : actual) actualNames.push_back(name);
  for (const auto& [name, bytes] : expected) expectedNames.push_back(name);
  ASSERT_EQ(actualNames, expectedNames);
  for (const auto& [name, bytes] : expected) EXPECT_TRUE(actual.at(name) == bytes) << name << " differs";
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += word + " ";
  return text;
}

bool endsWith(const CliResult& result, const std::string& ending) { return result.output.ends_with(ending); }

// --- The same runs through both builds ------------------------------------

struct ParityRow {
  std::vector<std::string> options;
  bool pcmOnly;  // a compression or a law test: only PCM inputs take it
};

const ParityRow kRows[] = {
    {{"-vf"}, false},
    {{"-ow"}, false},
    {{"-ob"}, false},
    {{"-oc"}, false},
    {{"-rl"}, false},
    {{"-d"}, false},
    {{"-d", "-ob"}, false},
    {{"-d", "-oc"}, false},
    {{"-d", "-or"}, false},
    {{"-ta", "-t"}, false},
    {{"-d", "-tu", "-ob"}, false},
    {{"-c", "-ob"}, true},
    {{"-cadpcmn64", "-b20", "-oc"}, true},
    {{"-cadpcmima", "-or"}, true},
    {{"-cadpcmms", "-b512"}, true},
    {{"-c", "-d", "-ow"}, true},
    {{"-cadpcmn64", "-d"}, true},
    {{"-cadpcmima", "-d", "-rl"}, true},
    {{"-cadpcmms", "-d", "-ob"}, true},
    {{"-tb", "-or"}, true},
    {{"-m", "-cadpcmima", "-ob"}, true},
    {{"-s16000", "-cadpcmn64", "-rl"}, true},
    {{"-s44100", "-oc"}, true},
};

struct ParityInput {
  const char* name;
  bool pcm;
  bool loadsConvertedOnly;  // without -m and -s the reader refuses it, as written
};

const ParityInput kInputs[] = {{"pcm", true, false},  {"stereo", true, false}, {"float6", true, true},
                               {"orbel", false, false}, {"n64", false, false},   {"ima", false, false},
                               {"ms", false, false},    {"gsm", false, false}};

// Names the input in test output instead of dumping the record's bytes.
void PrintTo(const ParityInput& input, std::ostream* out) { *out << input.name; }

class WindowsParity : public ::testing::TestWithParam<ParityInput> {
 protected:
  ScratchDir dir;
  void SetUp() override {
    if (!testingWindowsBuild()) GTEST_SKIP() << "needs the Windows build: make windows-test";
    // Speech-like sound, then a full-scale square that drives the N64
    // index past 88 (its warnings are printed), with a loop, a comment and
    // a chunk the reader drops.
    std::vector<int16_t> signal = speechLikeBursts(3000, 22050, 7);
    std::vector<int16_t> square = fullScaleSquare(301, 1);
    signal.insert(signal.end(), square.begin(), square.end());
    fs::create_directories(dir.file("in"));
    writeFileBytes(dir.file("in/pcm.wav"),
                   waveImage({chunk("fmt ", pcmFormat(1, 22050, 16)), chunk("cue ", {1, 2, 3}),
                              chunk("data", pcm16Contents(signal)), chunk("smpl", smplContents(1, 0, 100, 2999)),
                              infoComment("Quarlix parity")}));
    writeFileBytes(dir.file("in/stereo.wav"), waveImage({chunk("fmt ", pcmFormat(2, 8000, 16)),
                                                         chunk("data", pcm16Contents(whiteNoise(400, 9000, 3)))}));
    // Six channels of 32-bit floats, extensible and without a fact chunk,
    // as ffmpeg writes them, with a loop: what -m and -s convert.
    Bytes floats;
    NoiseSource noise{77};
    for (int16_t v : speechLikeBursts(6 * 2000, 44100, 8)) {
      appendLE32(floats, std::bit_cast<uint32_t>(v / 32768.0f + 0.01f * static_cast<float>(noise.unit())));
    }
    writeFileBytes(dir.file("in/float6.wav"),
                   waveImage({chunk("fmt ", extensibleFormat(3, 6, 44100, 32, 32)), chunk("data", floats),
                              chunk("smpl", smplContents(1, 0, 10, 1500))}));
    // The encoded inputs come from the Linux build; both builds decode them.
    const std::pair<const char*, const char*> encodings[] = {
        {"orbel", "-c"}, {"n64", "-cadpcmn64"}, {"ima", "-cadpcmima"}, {"ms", "-cadpcmms"}};
    for (const auto& [name, option] : encodings) {
      fs::create_directories(dir.file(name));
      ASSERT_EQ(runProgramIn(dir.file(name), QUARLIX_BIN, {option, "../in/pcm.wav"}).status, 0) << name;
      fs::rename(dir.file(std::string(name) + "/pcm.wav"), dir.file(std::string("in/") + name + ".wav"));
    }
    writeFileBytes(dir.file("speech.wav"), monoPcmWave(speechLikeBursts(8000, 8000, 5), 8000));
    ASSERT_EQ(runProgramIn(dir.path(), "sox", {"speech.wav", "-e", "gsm-full-rate", "in/gsm.wav"}).status, 0);
  }

  // One run in a fresh folder holding the input alone: its status, what it
  // printed and every file it left.
  struct Outcome {
    CliResult result;
    std::map<std::string, Bytes> files;
  };
  Outcome runIn(const std::string& folder, bool windows, const std::vector<std::string>& args) {
    std::string input = std::string(GetParam().name) + ".wav";
    fs::create_directories(dir.file(folder + "/in"));
    fs::copy_file(dir.file("in/" + input), dir.file(folder + "/in/" + input));
    CliResult result =
        windows ? runQuarlixIn(dir.file(folder), args) : runProgramIn(dir.file(folder), QUARLIX_BIN, args);
    return {result, filesBelow(dir.file(folder))};
  }
};

TEST_P(WindowsParity, SameFilesAndSameOutputAsTheLinuxBuild) {
  int row = 0;
  for (const ParityRow& r : kRows) {
    ++row;
    if (r.pcmOnly && !GetParam().pcm) continue;
    bool converts = r.options[0].starts_with("-m") || r.options[0].starts_with("-s");
    if (GetParam().loadsConvertedOnly && !converts) continue;
    std::vector<std::string> args = r.options;
    args.push_back(std::string("in/") + GetParam().name + ".wav");
    SCOPED_TRACE(joined(args));
    Outcome onLinux = runIn("linux" + std::to_string(row), false, args);
    Outcome onWindows = runIn("windows" + std::to_string(row), true, args);
    EXPECT_EQ(onWindows.result.errors, "");
    EXPECT_EQ(onWindows.result.status, onLinux.result.status);
    EXPECT_EQ(onWindows.result.output, onLinux.result.output);
    expectSameFiles(onWindows.files, onLinux.files);
    EXPECT_GT(onLinux.result.output.size(), 100u) << "the banner and an information block at least";
  }
}

INSTANTIATE_TEST_SUITE_P(EachInput, WindowsParity, ::testing::ValuesIn(kInputs),
                         [](const ::testing::TestParamInfo<ParityInput>& info) {
                           return std::string(info.param.name);
                         });

// --- Windows' own paths, options and attributes -----------------------------

class WindowsHost : public ::testing::Test {
 protected:
  ScratchDir dir;
  void SetUp() override {
    if (!testingWindowsBuild()) GTEST_SKIP() << "needs the Windows build: make windows-test";
    fs::create_directories(dir.file("snd"));
  }
  CliResult run(const std::vector<std::string>& args) {
    CliResult result = runQuarlixIn(dir.path(), args);
    EXPECT_EQ(result.errors, "");
    return result;
  }
  // The scratch folder as Wine's drive Z: (the root of this file system) shows it.
  std::string onDriveZ(const std::string& name) const {
    std::string path = "Z:" + dir.file(name);
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
  }
  // Windows' attrib on a file of the scratch folder, through Wine.
  std::string attrib(const std::vector<std::string>& args) {
    std::vector<std::string> command = {"/c", "attrib"};
    command.insert(command.end(), args.begin(), args.end());
    CliResult result = runWrappedIn(dir.path(), "cmd", command);
    EXPECT_EQ(result.status, 0) << joined(args) << result.output << result.errors;
    return result.output;
  }
  // The attribute letters attrib lists for one file.
  std::string attributesOf(const std::string& name) {
    std::string listing = attrib({name});
    std::string letters;
    for (char c : listing.substr(0, listing.find("Z:"))) {
      if (c != ' ') letters += c;
    }
    return letters;
  }
};

TEST_F(WindowsHost, DriveLettersAndBackslashes) {
  writeFileBytes(dir.file("snd/a.wav"), monoPcmWave({1, 2}));
  writeFileBytes(dir.file("snd/b.wav"), monoPcmWave({3, 4, 5, 6}));
  writeFileBytes(dir.file("snd/bad.wav"), Bytes(40, 'x'));
  struct Case {
    std::vector<std::string> args;
    std::string ending;
    const char* output;  // written by the run, below the scratch folder
  } cases[] = {
      // A full path on a drive, the pattern in its last component.
      {{"-ob", onDriveZ("snd") + "\\?.wav"}, kCompleted, "snd/b.bin"},
      {{"-oc", "snd\\a.wav"}, kCompleted, "snd/a.c"},
      // On the drive's current folder, with no directory part at all.
      {{"-or", "Z:snd\\b.wav"}, kCompleted, "snd/b.sam"},
      // The WAV output lands in the current folder whatever the path.
      {{"-ow", "snd/sub\\..\\a.wav"}, kCompleted, "a.wav"},
      {{"-ob", onDriveZ("nowhere") + "\\*.wav"}, "Quarlix - File not found !\n\n", nullptr},
      {{"snd\\bad.wav"}, "Quarlix - Unable to identify input file \"snd\\bad.wav\" !\n\n", nullptr},
  };
  for (const Case& c : cases) {
    CliResult result = run(c.args);
    EXPECT_TRUE(endsWith(result, c.ending)) << joined(c.args) << result.output;
    EXPECT_EQ(result.status, c.output != nullptr ? 0 : 1) << joined(c.args);
    if (c.output != nullptr) {
      EXPECT_TRUE(fileExists(dir.file(c.output))) << joined(c.args);
    }
  }
  EXPECT_EQ(readFileBytes(dir.file("snd/b.bin")).size(), 28u);
  EXPECT_EQ(readFileBytes(dir.file("a.wav")), monoPcmWave({1, 2}));
}

TEST_F(WindowsHost, EverySlashArgumentIsAnOption) {
  writeFileBytes(dir.file("a.wav"), monoPcmWave({100, -100, 200, -200}));
  CliResult usage = run({"/?"});
  EXPECT_EQ(usage.status, 0);
  EXPECT_TRUE(usage.output.starts_with(std::string(kBanner) + "Purpose    : Audio File Compressor for Win32"));
  EXPECT_EQ(usage.output.find("Completed"), std::string::npos);
  // As written: /home/a.wav is the option letter H, which shows the usage.
  CliResult home = run({"/home/a.wav", "a.wav"});
  EXPECT_EQ(home.output, usage.output);
  EXPECT_EQ(home.status, 0);

  CliResult ima = run({"/cadpcmima", "/ob", "a.wav"});
  EXPECT_EQ(ima.status, 0) << ima.output;
  EXPECT_EQ(readFileBytes(dir.file("a.bin"))[1], 3) << "IMA ADPCM";
  CliResult unknown = run({"/x.wav"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(endsWith(unknown, "\nQuarlix - Unknown option !\n\n")) << unknown.output;
}

TEST_F(WindowsHost, PatternsSkipHiddenAndSystemFilesAndIgnoreCase) {
  for (const char* name : {"a.wav", "b.wav", "c.wav", "LOUD.WAV"}) {
    writeFileBytes(dir.file(std::string("snd/") + name), monoPcmWave({7}));
  }
  attrib({"+h", "snd\\b.wav"});
  attrib({"+s", "snd\\c.wav"});
  ASSERT_EQ(attributesOf("snd\\b.wav"), "AH");
  CliResult result = run({"-ob", "snd\\*.wav"});
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_TRUE(fileExists(dir.file("snd/a.bin")));
  EXPECT_TRUE(fileExists(dir.file("snd/LOUD.bin")));
  EXPECT_FALSE(fileExists(dir.file("snd/b.bin")));
  EXPECT_FALSE(fileExists(dir.file("snd/c.bin")));
  // Named on its own, a hidden file is processed.
  EXPECT_EQ(run({"-ob", "snd\\b.wav"}).status, 0);
  EXPECT_TRUE(fileExists(dir.file("snd/b.bin")));
}

TEST_F(WindowsHost, ReplacementKeepsAttributesAndRefusesReadOnlyFiles) {
  writeFileBytes(dir.file("snd/in.wav"), monoPcmWave({1, 2, 3, 4}));
  for (const char* name : {"snd/in.bin", "snd/in.c", "in.wav"}) writeFileBytes(dir.file(name), {'o', 'l', 'd'});
  attrib({"+h", "snd\\in.bin"});
  attrib({"+r", "snd\\in.c"});
  attrib({"+r", "in.wav"});

  CliResult replaced = run({"-ob", "snd\\in.wav"});
  EXPECT_EQ(replaced.status, 0) << replaced.output;
  EXPECT_EQ(readFileBytes(dir.file("snd/in.bin")).size(), 28u);
  EXPECT_EQ(attributesOf("snd\\in.bin"), "AH");

  CliResult source = run({"-oc", "snd\\in.wav"});
  EXPECT_EQ(source.status, 1);
  EXPECT_TRUE(endsWith(source, "\nQuarlix - Can't open output file \"snd\\in.c\" !\n\n")) << source.output;
  CliResult wave = run({"-ow", "snd\\in.wav"});
  EXPECT_EQ(wave.status, 1);
  EXPECT_TRUE(endsWith(wave, "\nQuarlix - Unable the write chunk !\n\n")) << wave.output;
  for (const char* name : {"snd/in.c", "in.wav"}) EXPECT_EQ(readFileBytes(dir.file(name)), (Bytes{'o', 'l', 'd'}));
  // No temporary file is left behind.
  for (const char* folder : {"", "snd"}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.file(folder))) {
      EXPECT_FALSE(entry.path().filename().string().starts_with(".quarlix")) << entry.path();
    }
  }
}

TEST_F(WindowsHost, NamesOutsideTheAnsiCodePage) {
  writeFileBytes(dir.file("snd/ü音.wav"), monoPcmWave({1, 2, 3, 4}));
  writeFileBytes(dir.file("snd/ß.wav"), Bytes(40, 'x'));
  CliResult pattern = run({"-ob", "snd\\?音.wav", "-ow", "snd/ü*.wav"});
  EXPECT_EQ(pattern.status, 0) << pattern.output;
  EXPECT_EQ(readFileBytes(dir.file("snd/ü音.bin")).size(), 28u);
  EXPECT_EQ(readFileBytes(dir.file("ü音.wav")), monoPcmWave({1, 2, 3, 4}));
  CliResult named = run({"-ob", "snd\\ß.wav"});
  EXPECT_EQ(named.status, 1);
  EXPECT_TRUE(endsWith(named, "\nQuarlix - Unable to identify input file \"snd\\ß.wav\" !\n\n")) << named.output;
}

}  // namespace
