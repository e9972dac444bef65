// -s through the binary: the length and the loop points of the resampled
// sound, -s at the file's own rate as -m, and the sound itself against
// sox's very-high-quality rate effect.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/cli_runner.h"
#include "support/test_fixtures.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

namespace {

uint32_t be32(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]);
}

class Resample : public ScratchCliTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(dir.file("in"));
    std::filesystem::create_directory(dir.file("out"));
  }
};

// A file's rate more than 256 times away from the chosen one is refused;
// 256 times is not.
TEST_F(Resample, RatesTooFarApartAreRefused) {
  writeFileBytes(dir.file("zero.wav"), monoPcmWave({1, 2}, 0));
  writeFileBytes(dir.file("edge.wav"), monoPcmWave({1, 2}, 256000));
  writeFileBytes(dir.file("far.wav"), monoPcmWave({1, 2}, 256001));
  EXPECT_EQ(run({"-s1000", "-ob", "edge.wav"}).status, 0);
  for (const char* name : {"zero.wav", "far.wav"}) {
    CliResult result = run({"-s1000", "-ob", name});
    EXPECT_EQ(result.status, 1) << name;
    std::string message = std::string("Quarlix - Can't resample ") + (name[0] == 'z' ? "0" : "256001") +
                          " Hz to 1000 Hz !\n\n";
    ASSERT_GE(result.output.size(), message.size());
    EXPECT_EQ(result.output.substr(result.output.size() - message.size()), message);
  }
}

// n * rate / old rate samples, rounded to the nearest (halves up), and the
// loop moved the same way: its end at most the length, its start before
// its end, from smpl and from the ICMT text alike.
TEST_F(Resample, LengthAndLoopsScale) {
  struct Case {
    const char* name;
    uint32_t frames, from;
    uint32_t loopStart, loopEndInclusive;  // in smpl, or in ICMT when `comment`
    bool comment;
    uint32_t count, start, end;  // expected at 16000 Hz; end exclusive
  };
  const Case cases[] = {
      {"half", 1001, 32000, 1, 999, false, 501, 1, 500},  // 500.5 samples, a loop from 0.5 to 500
      {"cd", 22050, 22050, 100, 22049, false, 16000, 73, 16000},
      {"up", 100, 7000, 0, 99, false, 229, 0, 229},
      {"tiny", 3, 64000, 1, 2, false, 1, 0, 1},
      {"end-past", 100, 8000, 50, 5000, false, 200, 100, 200},
      {"all-past", 100, 8000, 4000, 5000, false, 200, 199, 200},
      {"comment", 100, 32000, 10, 19, true, 50, 5, 10},
  };
  for (const Case& c : cases) {
    std::vector<Bytes> chunks = {chunk("fmt ", pcmFormat(2, c.from, 16)),
                                 chunk("data", pcm16Contents(Samples(2 * c.frames, 1000)))};
    std::string loopText = std::to_string(c.loopStart) + " " + std::to_string(c.loopEndInclusive);
    chunks.push_back(c.comment ? infoComment(loopText)
                               : chunk("smpl", smplContents(1, 0, c.loopStart, c.loopEndInclusive)));
    writeFileBytes(dir.file(std::string("in/") + c.name + ".wav"), waveImage(chunks));
  }
  ASSERT_EQ(run({"-s16000", "-ob", "in/*.wav"}).status, 0);
  ASSERT_EQ(runQuarlixIn(dir.file("out"), {"-s16000", "-ow", "../in/*.wav"}).status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bin = readFileBytes(dir.file(std::string("in/") + c.name + ".bin"));
    EXPECT_EQ(be32(bin, 8), c.count);
    EXPECT_EQ(be32(bin, 12), c.start);
    EXPECT_EQ(be32(bin, 16), c.end);
    // The WAV output carries the moved loop in the chunk it came from.
    Bytes wav = readFileBytes(dir.file(std::string("out/") + c.name + ".wav"));
    EXPECT_EQ(chunkContents(wav, "data").size(), 2u * c.count);
    if (c.comment) {
      Bytes expected = infoComment(std::to_string(c.start) + " " + std::to_string(c.end - 1));
      EXPECT_EQ(chunkContents(wav, "LIST"), Bytes(expected.begin() + 8, expected.end()));
    } else {
      Bytes smpl = chunkContents(wav, "smpl");
      ASSERT_EQ(smpl.size(), 60u);
      EXPECT_EQ(loadLE32At(smpl, 8), 62500u) << "sample period, in nanoseconds";
      EXPECT_EQ(loadLE32At(smpl, 44), c.start);
      EXPECT_EQ(loadLE32At(smpl, 48), c.end - 1);
    }
  }
}

// A file already at the -s rate is not resampled: -s is then -m, and
// 16-bit mono stays byte for byte as it was.
TEST_F(Resample, SameRateIsMono) {
  Bytes stereo = waveImage({chunk("fmt ", pcmFormat(2, 22050, 16)), chunk("data", pcm16Contents({1, 2, 3, 4, -7, 0})),
                            chunk("smpl", smplContents(1, 0, 1, 2))});
  Bytes mono = monoPcmWave(speechLikeBursts(500, 22050, 4), 22050);
  writeFileBytes(dir.file("in/stereo.wav"), stereo);
  writeFileBytes(dir.file("in/mono.wav"), mono);
  ASSERT_EQ(runQuarlixIn(dir.file("out"), {"-m", "-ow", "../in/stereo.wav"}).status, 0);
  Bytes byMono = readFileBytes(dir.file("out/stereo.wav"));
  ASSERT_EQ(runQuarlixIn(dir.file("out"), {"-s22050", "-ow", "../in/*.wav"}).status, 0);
  EXPECT_EQ(readFileBytes(dir.file("out/stereo.wav")), byMono);
  EXPECT_EQ(readFileBytes(dir.file("out/mono.wav")), mono);
}

double snrDecibels(const std::vector<double>& reference, const Samples& test) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    signal += reference[i] * reference[i];
    double error = reference[i] - test[i];
    noise += error * error;
  }
  return 10 * std::log10(signal / noise);
}

// Down and up, from 16-bit mono and from 24-bit stereo: the sound agrees
// with sox's `rate -v` of the same input (as 32-bit floats, so sox adds no
// rounding of its own) to at least 60 dB, sample for sample.
TEST_F(Resample, AgreesWithSoxVeryHighQuality) {
  struct Case {
    const char* name;
    uint32_t from, to;
    double topHz;
    bool stereo24;
  };
  const Case cases[] = {{"down", 44100, 16000, 6000, false}, {"up", 8000, 22050, 3000, false},
                        {"stereo24", 48000, 11025, 4000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Samples chirp = linearChirp(c.from / 2, c.from, 50, c.topHz, 20000);
    std::string in = std::string("in/") + c.name + ".wav";
    if (c.stereo24) {
      Bytes data;
      for (int16_t s : chirp) {
        for (int32_t v : {s * 256, -s * 128}) {  // mean: s * 64 in 24-bit units, s / 4 in 16-bit ones
          data.push_back(static_cast<uint8_t>(v));
          data.push_back(static_cast<uint8_t>(v >> 8));
          data.push_back(static_cast<uint8_t>(v >> 16));
        }
      }
      writeFileBytes(dir.file(in), waveImage({chunk("fmt ", pcmFormat(2, c.from, 24)), chunk("data", data)}));
    } else {
      writeFileBytes(dir.file(in), monoPcmWave(chirp, c.from));
    }
    std::string rate = std::to_string(c.to);
    ASSERT_EQ(runQuarlixIn(dir.file("out"), {"-s" + rate, "-ow", "../" + in}).status, 0);
    Bytes ours = chunkContents(readFileBytes(dir.file(std::string("out/") + c.name + ".wav")), "data");
    std::string soxOut = std::string("sox-") + c.name + ".wav";
    CliResult sox = runProgramIn(dir.path(), "sox",
                                 {in, "-e", "floating-point", "-b", "32", soxOut, "remix", "-", "rate", "-v", rate});
    ASSERT_EQ(sox.status, 0) << sox.errors;
    Bytes theirs = chunkContents(readFileBytes(dir.file(soxOut)), "data");
    // sox's own rate effect may end a stream half a sample sooner.
    ASSERT_LE(2 * ours.size() - theirs.size(), 4u);
    theirs.resize(2 * ours.size() - 4);
    // `remix -` mixes the channels to their mean, as -m does.
    std::vector<double> reference(theirs.size() / 4);
    for (size_t i = 0; i < reference.size(); ++i) {
      uint32_t bits = loadLE32At(theirs, 4 * i);
      float value;
      std::memcpy(&value, &bits, 4);
      reference[i] = value * 32768.0;
    }
    EXPECT_GE(snrDecibels(reference, pcm16FromBytes(ours.data(), ours.size() / 2)), 60.0);
  }
}

}  // namespace
