// -m through the binary: every PCM layout made 16-bit mono by the written
// arithmetic, files of the common tools included, while 16-bit mono input,
// compressed input and the written refusals stay as they were.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "support/cli_runner.h"
#include "support/test_fixtures.h"
#include "support/wav_builder.h"

namespace {

// Samples of `width` bytes, little-endian two's complement (8-bit: as given).
Bytes ints(int width, const std::vector<int64_t>& values) {
  Bytes out;
  for (int64_t v : values) {
    for (int b = 0; b < width; ++b) out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * b)));
  }
  return out;
}
Bytes floats32(const std::vector<float>& values) {
  Bytes out;
  for (float v : values) appendLE32(out, std::bit_cast<uint32_t>(v));
  return out;
}
Bytes floats64(const std::vector<double>& values) {
  Bytes out;
  for (double v : values) {
    uint64_t bits = std::bit_cast<uint64_t>(v);
    appendLE32(out, static_cast<uint32_t>(bits));
    appendLE32(out, static_cast<uint32_t>(bits >> 32));
  }
  return out;
}

Bytes floatFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
  uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  return formatContents(3, channels, rate, rate * align, align, bits);
}

Bytes mono16Wave(uint32_t rate, const std::vector<int16_t>& samples, const std::vector<Bytes>& extra = {}) {
  std::vector<Bytes> chunks = {chunk("fmt ", pcmFormat(1, rate, 16)), chunk("data", pcm16Contents(samples))};
  chunks.insert(chunks.end(), extra.begin(), extra.end());
  return waveImage(chunks);
}

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const double k2m15 = std::ldexp(1.0, -15);
const double k2m16 = std::ldexp(1.0, -16);

class MonoConversion : public ScratchCliTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir.file("in"));
    std::filesystem::create_directory(dir.file("out"));
  }
};

// Every layout against values worked out by hand from the written rule:
// integers S / (n * 2^(bits - 16)) (8-bit: (u - 128) * 256 / n), floats
// the frame's mean times 32768, rounded to the nearest with ties to even and
// clamped. The cases sit on the edges: exact ties both ways, full scale,
// minus full scale, bits below the valid ones, NaN and infinities.
TEST_F(MonoConversion, LayoutsGiveTheWrittenArithmetic) {
  const Bytes smpl = chunk("smpl", smplContents(1, 0, 1, 2));
  const Bytes info = infoComment("kept");
  struct Case {
    const char* name;
    Bytes fmt;
    bool fact;  // a fact chunk (with a count that is not the frames')
    Bytes data;
    std::vector<int16_t> expected;
    std::vector<Bytes> extra = {};  // chunks that must come through
  };
  const Case cases[] = {
      {"u8-mono", pcmFormat(1, 8000, 8), false, {0, 128, 255, 127, 129}, {-32768, 0, 32512, -256, 256}},
      {"u8-3ch", pcmFormat(3, 8000, 8), false, {129, 128, 128, 130, 128, 128, 0, 0, 0, 255, 255, 255},
       {85, 171, -32768, 32512}},
      {"s16-stereo", pcmFormat(2, 11025, 16), true,
       ints(2, {1, 0, 3, 0, -1, 0, -3, 0, 32767, 32767, -32768, -32768, 32767, -32768, 5, 0}),
       {0, 2, 0, -2, 32767, -32768, 0, 2}},
      {"s16-6ch", pcmFormat(6, 8000, 16), false,
       ints(2, {3, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0, -15, 0, 0, 0, 0, 0, 32767, 32767, 32767, 32767, 32767, 32767,
                -32768, -32768, -32768, -32768, -32768, -32768, 1, 1, 1, 1, 1, 0}),
       {0, 2, -2, 32767, -32768, 1}},
      {"s24-mono", pcmFormat(1, 8000, 24), false,
       ints(3, {128, 384, 640, -128, -384, 8388607, -8388608, 8388480, -8388480, 8388352}),
       {0, 2, 2, 0, -2, 32767, -32768, 32767, -32768, 32767}},
      {"s24-stereo", pcmFormat(2, 44100, 24), true,
       ints(3, {8388607, 8388607, 256, 0, 768, 0, -8388608, -8388608}), {32767, 0, 2, -32768}, {smpl, info}},
      {"s32-mono", pcmFormat(1, 8000, 32), false, ints(4, {32768, 98304, kInt32Max, kInt32Min, -32768, 65536}),
       {0, 2, 32767, -32768, 0, 1}},
      {"s32-6ch", pcmFormat(6, 8000, 32), true,
       ints(4, {kInt32Min, kInt32Min, kInt32Min, kInt32Min, kInt32Min, kInt32Min, 196608, 0, 0, 0, 0, 0, 589824, 0,
                0, 0, 0, 0}),
       {-32768, 0, 2}},
      {"f32-mono", floatFormat(1, 8000, 32), false,
       floats32({0.5f, 1.0f, -1.0f, 1.5f, kNaN, static_cast<float>(k2m16), static_cast<float>(3 * k2m16),
                 static_cast<float>(-k2m16), kInf, -kInf, static_cast<float>(5 * k2m16)}),
       {16384, 32767, -32768, 32767, 0, 0, 2, 0, 32767, -32768, 2}},
      {"f64-stereo", floatFormat(2, 8000, 64), true,
       floats64({1.0, 0.0, kNaN, 1.0, k2m15, 0.0, 3 * k2m15, 0.0, -1.0, -1.0, 1.0, 1.0}),
       {16384, 0, 0, 2, -32768, 32767}},
      {"f64-6ch", floatFormat(6, 8000, 64), false,
       floats64({9 * k2m15, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1, -1, 0.25, 0.25, 0.25, 0.25, 0.25,
                 0.25}),
       {2, 32767, -32768, 8192}},
      {"ext-24in32-mono", extensibleFormat(1, 1, 8000, 32, 24), false,
       ints(4, {0x000080FF, 0x000180FF, kInt32Max, kInt32Min, 0x00028000, static_cast<int32_t>(0xFFFF80FF)}),
       {0, 2, 32767, -32768, 2, 0}},
      {"ext-24in32-stereo", extensibleFormat(1, 2, 8000, 32, 24), true,
       ints(4, {0x00010000, 0x00008000, 0x7FFFFF00, 0x7FFFFF00}), {1, 32767}},
      {"ext-12in16-mono", extensibleFormat(1, 1, 8000, 16, 12), false, ints(2, {0x0018, 0x000F, -16, 0x7FF0}),
       {16, 0, -16, 32752}},
      {"ext-20in24-mono", extensibleFormat(1, 1, 8000, 24, 20), true, ints(3, {0x000080, 0x000180, 0x00008F}),
       {0, 2, 0}},
      {"ext-f32-stereo", extensibleFormat(3, 2, 8000, 32, 32), false, floats32({0.5f, 0.5f, -1.0f, 0.0f}),
       {16384, -16384}},
      {"ext-s16-6ch", extensibleFormat(1, 6, 8000, 16, 16), false,
       ints(2, {3, 0, 0, 0, 0, 0, 32767, 32767, 32767, 32767, 32767, 32767}), {0, 32767}},
      {"ext-u8-mono", extensibleFormat(1, 1, 8000, 8, 8), true, {0, 255}, {-32768, 32512}},
  };
  for (const Case& c : cases) {
    std::vector<Bytes> chunks = {chunk("fmt ", c.fmt)};
    if (c.fact) chunks.push_back(chunk("fact", factContents(999)));
    chunks.push_back(chunk("data", c.data));
    chunks.insert(chunks.end(), c.extra.begin(), c.extra.end());
    writeFileBytes(dir.file(std::string("in/") + c.name + ".wav"), waveImage(chunks));
  }
  CliResult result = runQuarlixIn(dir.file("out"), {"-m", "-ow", "../in/*.wav"});
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(result.errors, "");
  // The information block describes each file as it was read.
  EXPECT_NE(result.output.find("Channels          = 6\n"), std::string::npos);
  EXPECT_NE(result.output.find("Bits-per-sample   = 64\n"), std::string::npos);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t rate = loadLE32At(c.fmt, 4);
    EXPECT_EQ(readFileBytes(dir.file(std::string("out/") + c.name + ".wav")), mono16Wave(rate, c.expected, c.extra));
  }
}

// 16-bit mono PCM is left alone: whatever the outputs, every byte and every
// printed line is the same as without -m.
TEST_F(MonoConversion, SixteenBitMonoIsUntouched) {
  Bytes wave = waveImage({chunk("fmt ", formatContents(1, 1, 22050, 1, 4, 16)), chunk("fact", factContents(7)),
                          chunk("data", pcm16Contents({1, -2, 300, -32768, 32767, 0, 5})), chunk("cue ", {1, 2}),
                          chunk("smpl", smplContents(1, 0, 2, 4)), infoComment("1 3")});
  // Every output of one file in one run: WAV, .bin, .c, .sam, then IMA ADPCM
  // as TESTFILE.wav.
  const std::vector<std::string> outputs = {"-ow", "../in/a.wav", "-ob", "../in/a.wav", "-oc", "../in/a.wav",
                                            "-or", "../in/a.wav", "-ow", "-t", "-cadpcmima", "../in/a.wav"};
  std::map<std::string, Bytes> written[2];
  std::string printed[2];
  for (int mono = 0; mono < 2; ++mono) {
    std::filesystem::remove_all(dir.file("in"));
    std::filesystem::create_directory(dir.file("in"));
    writeFileBytes(dir.file("in/a.wav"), wave);
    std::vector<std::string> args = outputs;
    if (mono == 1) args.insert(args.begin(), "-m");
    CliResult result = runQuarlixIn(dir.file("out"), args);
    ASSERT_EQ(result.status, 0) << result.output;
    printed[mono] = result.output;
    for (const char* name : {"out/a.wav", "in/a.bin", "in/a.c", "in/a.sam", "out/TESTFILE.wav"}) {
      written[mono][name] = readFileBytes(dir.file(name));
    }
  }
  EXPECT_EQ(printed[1], printed[0]);
  for (const auto& [name, bytes] : written[0]) EXPECT_TRUE(written[1][name] == bytes) << name << " differs";
}

// Without -m every refusal is the written one; with it, a layout that -m
// cannot make 16-bit mono (another sample size, another tag, an extensible
// fmt too short for its sub-format or with more valid bits than its
// container) still meets the refusal of the job that needs 16-bit mono.
TEST_F(MonoConversion, RefusalsStayAsWritten) {
  struct Case {
    const char* name;
    Bytes image;
    std::string option;
    bool mono;  // with -m
    std::string message;
  };
  Bytes stereo = waveImage({chunk("fmt ", pcmFormat(2, 8000, 16)), chunk("data", ints(2, {1, 2, 3, 4}))});
  Bytes floatNoFact = waveImage({chunk("fmt ", floatFormat(1, 8000, 32)), chunk("data", floats32({0.5f}))});
  Bytes extensibleNoFact =
      waveImage({chunk("fmt ", extensibleFormat(1, 2, 8000, 24, 24)), chunk("data", ints(3, {1, 2}))});
  Bytes shortExtensible = extensibleFormat(1, 1, 8000, 16, 16);
  shortExtensible.resize(18);
  Bytes twelveBit = waveImage({chunk("fmt ", pcmFormat(1, 8000, 12)), chunk("data", {1, 2})});
  Bytes float16 = waveImage({chunk("fmt ", floatFormat(1, 8000, 16)), chunk("fact", factContents(1)),
                             chunk("data", {1, 2})});
  Bytes tooManyValid = waveImage({chunk("fmt ", extensibleFormat(1, 1, 8000, 16, 17)), chunk("data", {1, 2})});
  Bytes aLaw = waveImage({chunk("fmt ", formatContents(6, 2, 8000, 16000, 2, 8)), chunk("fact", factContents(2)),
                          chunk("data", {1, 2, 3, 4})});
  const std::string imaMono = "Quarlix - Only mono samples can be compressed to IMA Adpcm !\n";
  const std::string ima16 = "Quarlix - Only 16-bit PCM samples can be compressed to IMA Adpcm !\n";
  const std::string binType = "Quarlix - Can't convert this type of WAV file to BIN format !\n";
  const std::string missingFact = "Quarlix - Missing \"fact\" chunk !\n";
  const Case cases[] = {
      {"stereo", stereo, "-cadpcmima", false, imaMono},
      {"float", floatNoFact, "-cadpcmima", false, missingFact},
      {"ext", extensibleNoFact, "-cadpcmima", false, missingFact},
      {"short-ext", waveImage({chunk("fmt ", shortExtensible), chunk("data", {1, 2})}), "-ob", true, missingFact},
      {"twelve", twelveBit, "-cadpcmima", true, ima16},
      {"float16", float16, "-ob", true, binType},
      {"valid17", tooManyValid, "-ob", true, binType},
      {"alaw", aLaw, "-ob", true, "Quarlix - Only mono samples can be output to BIN format !\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = std::string("../in/") + c.name + ".wav";
    writeFileBytes(dir.file(path.substr(3)), c.image);
    std::vector<std::string> args = {c.option, path};
    if (c.mono) args.insert(args.begin(), "-m");
    CliResult result = runQuarlixIn(dir.file("out"), args);
    EXPECT_EQ(result.status, 1);
    ASSERT_GE(result.output.size(), c.message.size() + 1);
    EXPECT_EQ(result.output.substr(result.output.size() - c.message.size() - 1), c.message + "\n");
  }
}

// -m, like every option, applies to the files named after it only.
TEST_F(MonoConversion, OptionAppliesToLaterFilesOnly) {
  writeFileBytes(dir.file("in/st.wav"),
                 waveImage({chunk("fmt ", pcmFormat(2, 8000, 16)), chunk("data", ints(2, {4, 6, -4, -6}))}));
  CliResult before = run({"-ob", "in/st.wav", "-m"});
  EXPECT_EQ(before.status, 1);
  EXPECT_FALSE(fileExists(dir.file("in/st.bin")));
  CliResult after = run({"-ob", "-M", "in/st.wav"});
  EXPECT_EQ(after.status, 0) << after.output;
  const Bytes bin = {0x1A, 1, 0x1F, 0x40, 0, 1, 0, 2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0xFF, 0xFB};
  EXPECT_EQ(readFileBytes(dir.file("in/st.bin")), bin);
}

// Mean of a frame of 16-bit values, rounded to the nearest with ties to even.
int16_t roundedMean(const std::vector<int64_t>& frame) {
  int64_t sum = 0;
  for (int64_t v : frame) sum += v;
  int64_t n = static_cast<int64_t>(frame.size());
  int64_t q = sum >= 0 ? sum / n : -((-sum + n - 1) / n);
  int64_t twiceRest = 2 * (sum - q * n);
  if (twiceRest > n || (twiceRest == n && q % 2 != 0)) ++q;
  return static_cast<int16_t>(q);
}

// sox, ffmpeg and sndfile-convert write the layouts as they do (plain,
// float with fact and PEAK, extensible with and without fact) from 16-bit
// sources, which every layout holds exactly; the 8-bit sources are whole
// multiples of 256. So -m must give each frame's mean, rounded as written.
TEST_F(MonoConversion, FilesOfTheCommonToolsConvertExactly) {
  // Frames chosen for ties, full scale and minus full scale.
  const std::vector<std::vector<int64_t>> fine[] = {
      {{0}, {1}, {-1}, {32767}, {-32768}, {12345}},
      {{1, 0}, {3, 0}, {-1, 0}, {-3, 0}, {32767, 32767}, {-32768, -32768}, {32767, -32768}, {5, 0}, {100, 101}},
      {{3, 0, 0, 0, 0, 0}, {9, 0, 0, 0, 0, 0}, {-15, 0, 0, 0, 0, 0}, {32767, 32767, 32767, 32767, 32767, 32767},
       {-32768, -32768, -32768, -32768, -32768, -32768}, {1, 2, 3, 4, 5, 6}, {-32768, 32767, 1000, -999, 7, 8}}};
  const std::vector<std::vector<int64_t>> coarse[] = {
      {{-32768}, {32512}, {256}, {0}},
      {{256, 0}, {-32768, -32768}, {32512, 32512}, {256, -512}},
      {{256, 0, 0, 0, 0, 0}, {768, 0, 0, 0, 0, 0}, {-32768, -32768, -32768, -32768, -32768, -32768},
       {32512, 32512, 32512, 32512, 32512, 32512}}};
  struct Tool {
    std::string program;
    std::vector<std::string> eightBit, wider[4];  // wider: 24, 32-bit integer, 32, 64-bit float
  };
  const Tool tools[] = {
      {"sox", {"-D", "IN", "-b", "8", "OUT"},
       {{"-D", "IN", "-b", "24", "OUT"}, {"-D", "IN", "-b", "32", "OUT"},
        {"-D", "IN", "-e", "floating-point", "-b", "32", "OUT"}, {"-D", "IN", "-e", "floating-point", "-b", "64", "OUT"}}},
      {"ffmpeg", {"-loglevel", "error", "-i", "IN", "-c:a", "pcm_u8", "OUT"},
       {{"-loglevel", "error", "-i", "IN", "-c:a", "pcm_s24le", "OUT"},
        {"-loglevel", "error", "-i", "IN", "-c:a", "pcm_s32le", "OUT"},
        {"-loglevel", "error", "-i", "IN", "-c:a", "pcm_f32le", "OUT"},
        {"-loglevel", "error", "-i", "IN", "-c:a", "pcm_f64le", "OUT"}}},
      {"sndfile-convert", {"-pcmu8", "IN", "OUT"},
       {{"-pcm24", "IN", "OUT"}, {"-pcm32", "IN", "OUT"}, {"-float32", "IN", "OUT"}, {"-float64", "IN", "OUT"}}},
  };
  struct Made {
    std::string name;
    std::vector<int16_t> expected;
  };
  std::vector<Made> made;
  auto source = [&](const std::string& name, const std::vector<std::vector<int64_t>>& frames) {
    std::vector<int64_t> flat;
    std::vector<int16_t> expected;
    for (const auto& frame : frames) {
      flat.insert(flat.end(), frame.begin(), frame.end());
      expected.push_back(roundedMean(frame));
    }
    uint16_t channels = static_cast<uint16_t>(frames[0].size());
    writeFileBytes(dir.file(name), waveImage({chunk("fmt ", pcmFormat(channels, 16000, 16)), chunk("data", ints(2, flat))}));
    return expected;
  };
  auto make = [&](const Tool& tool, std::vector<std::string> args, const std::string& src, const std::string& name,
                  const std::vector<int16_t>& expected) {
    for (std::string& a : args) a = a == "IN" ? src : a == "OUT" ? "in/" + name + ".wav" : a;
    CliResult result = runProgramIn(dir.path(), tool.program, args);
    ASSERT_EQ(result.status, 0) << tool.program << " " << result.errors;
    made.push_back({name, expected});
  };
  for (int c = 0; c < 3; ++c) {
    std::string n = std::to_string(c);
    std::vector<int16_t> fineMeans = source("fine" + n + ".wav", fine[c]);
    std::vector<int16_t> coarseMeans = source("coarse" + n + ".wav", coarse[c]);
    for (const Tool& tool : tools) {
      make(tool, tool.eightBit, "coarse" + n + ".wav", tool.program + "-u8-" + n, coarseMeans);
      for (int w = 0; w < 4; ++w) {
        make(tool, tool.wider[w], "fine" + n + ".wav", tool.program + "-w" + std::to_string(w) + "-" + n, fineMeans);
      }
    }
  }
  // The tools' files hold every kind of header the conversion must read.
  int extensibleWithFact = 0, extensibleWithoutFact = 0, floatTag = 0;
  for (const Made& m : made) {
    Bytes image = readFileBytes(dir.file("in/" + m.name + ".wav"));
    bool fact = false;
    chunkContents(image, "fact", &fact);
    uint32_t tag = chunkContents(image, "fmt ")[0] | chunkContents(image, "fmt ")[1] << 8;
    extensibleWithFact += tag == 0xFFFE && fact;
    extensibleWithoutFact += tag == 0xFFFE && !fact;
    floatTag += tag == 3;
  }
  EXPECT_GT(extensibleWithFact, 0);
  EXPECT_GT(extensibleWithoutFact, 0);
  EXPECT_GT(floatTag, 0);

  CliResult result = runQuarlixIn(dir.file("out"), {"-m", "-ow", "../in/*.wav"});
  ASSERT_EQ(result.status, 0) << result.output;
  for (const Made& m : made) {
    SCOPED_TRACE(m.name);
    Bytes out = readFileBytes(dir.file("out/" + m.name + ".wav"));
    EXPECT_EQ(chunkContents(out, "fmt "), pcmFormat(1, 16000, 16));
    EXPECT_EQ(chunkContents(out, "data"), pcm16Contents(m.expected));
  }
}

}  // namespace
