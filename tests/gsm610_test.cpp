// GSM 06.10 decoding, checked against the standard tools' own encoders and
// decoders: sox and libsndfile write the fixtures, and sox, libsndfile and
// ffmpeg say what the decoded samples must be.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "codecs/gsm610.h"
#include "support/cli_runner.h"
#include "support/wav_builder.h"

namespace {

constexpr uint32_t kRate = 8000;
constexpr size_t kBlockBytes = 65;
constexpr size_t kBlockSamples = 320;
// Three seconds and a bit: the count ends inside a block.
constexpr size_t kSpeechSamples = 3 * kRate + 123;

// Syllables of a voiced sound (a pulse train with a gliding pitch through
// two formant resonators), hissing consonants and pauses: enough like
// speech to exercise every part of the codec.
std::vector<int16_t> speechLike(size_t count, uint32_t seed) {
  std::vector<int16_t> samples(count);
  const double pi = std::acos(-1.0);
  uint32_t noise = seed * 2654435761u + 1;
  double phase = 0;
  double f1[2] = {0, 0}, f2[2] = {0, 0};
  for (size_t n = 0; n < count; ++n) {
    double t = static_cast<double>(n) / kRate;
    double syllable = std::fmod(t * (3.0 + seed % 3), 1.0);  // position inside the syllable
    double pitch = 110 + 60 * std::sin(2 * pi * 0.7 * t + seed) + 40 * syllable;
    phase += pitch / kRate;
    double pulse = 0;
    if (phase >= 1) {
      phase -= 1;
      pulse = 1;
    }
    noise = noise * 1664525u + 1013904223u;
    double hiss = (static_cast<double>(noise >> 8) / (1u << 24) - 0.5);
    double excitation = syllable < 0.6 ? pulse * 9000 : (syllable < 0.75 ? hiss * 5000 : 0);
    // Two-pole resonators: y = x + 2r cos(w) y1 - r^2 y2.
    auto resonate = [&](double (&state)[2], double x, double freq, double r) {
      double y = x + 2 * r * std::cos(2 * pi * freq / kRate) * state[0] - r * r * state[1];
      state[1] = state[0];
      state[0] = y;
      return y;
    };
    double formant1 = 500 + 300 * std::sin(2 * pi * 1.3 * t);
    double y = resonate(f1, excitation, formant1, 0.95) * 0.25 + resonate(f2, excitation, 1500, 0.9) * 0.2;
    samples[n] = static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, y))));
  }
  return samples;
}

std::vector<int16_t> samplesOf(const Bytes& image) {
  Bytes data = chunkContents(image, "data");
  return pcm16FromBytes(data.data(), data.size() / 2);
}


std::vector<int16_t> prefix(const std::vector<int16_t>& samples, size_t count) {
  return {samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(std::min(count, samples.size()))};
}

// The fmt extension of a GSM file: cbSize 2 and wSamplesPerBlock.
Bytes gsmFormat(uint16_t channels, uint16_t blockAlign, uint16_t samplesPerBlock) {
  Bytes fmt = formatContents(49, channels, kRate, 1625, blockAlign, 0);
  appendLE16(fmt, 2);
  appendLE16(fmt, samplesPerBlock);
  return fmt;
}

class GsmTest : public ::testing::Test {
 protected:
  void run(const std::string& program, const std::vector<std::string>& args) {
    CliResult result = runProgramIn(dir.path(), program, args);
    ASSERT_EQ(result.status, 0) << program << " failed (a required test tool):\n" << result.errors;
  }

  // Writes the samples as 16-bit PCM and has `encoder` ("sox" or
  // "sndfile") turn them into in/<name>.wav; returns that file's image.
  Bytes encode(const std::string& encoder, const std::string& name, const std::vector<int16_t>& samples) {
    std::string pcm = name + "-pcm.wav";
    std::string gsm = "in/" + name + ".wav";
    writeFileBytes(dir.file(pcm), monoPcmWave(samples, kRate));
    run("mkdir", {"-p", "in"});
    if (encoder == "sox") {
      run("sox", {pcm, "-e", "gsm-full-rate", gsm});
    } else {
      run("sndfile-convert", {"-gsm610", pcm, gsm});
    }
    return readFileBytes(dir.file(gsm));
  }

  // Each peer's decode of in/<name>.wav, by name of the tool.
  std::vector<std::pair<std::string, std::vector<int16_t>>> peerDecodes(const std::string& name) {
    std::string gsm = "in/" + name + ".wav";
    run("sox", {gsm, "-e", "signed-integer", "-b", "16", name + "-sox.wav"});
    run("sndfile-convert", {"-pcm16", gsm, name + "-sndfile.wav"});
    run("ffmpeg", {"-nostdin", "-loglevel", "error", "-y", "-i", gsm, "-c:a", "pcm_s16le", name + "-ffmpeg.wav"});
    std::vector<std::pair<std::string, std::vector<int16_t>>> decodes;
    for (const char* peer : {"sox", "sndfile", "ffmpeg"}) {
      decodes.emplace_back(peer, samplesOf(readFileBytes(dir.file(name + "-" + peer + ".wav"))));
    }
    return decodes;
  }

  // quarlix -d on in/<name>.wav; the output lands as <name>.wav here.
  Bytes decodeWithQuarlix(const std::string& name) {
    CliResult result = runQuarlixIn(dir.path(), {"-d", "in/" + name + ".wav"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.errors, "");
    EXPECT_TRUE(result.output.ends_with(kCompleted)) << result.output;
    return fileExists(dir.file(name + ".wav")) ? readFileBytes(dir.file(name + ".wav")) : Bytes{};
  }

  ScratchDir dir;
};

TEST_F(GsmTest, DecodesExactlyAsTheReferenceDecodersDo) {
  for (const char* encoder : {"sox", "sndfile"}) {
    SCOPED_TRACE(encoder);
    Bytes gsm = encode(encoder, encoder, speechLike(kSpeechSamples, 1));
    uint32_t factCount = loadLE32At(chunkContents(gsm, "fact"), 0);
    ASSERT_EQ(factCount, kSpeechSamples);
    ASSERT_NE(factCount % kBlockSamples, 0u);

    Bytes out = decodeWithQuarlix(encoder);
    EXPECT_EQ(chunkContents(out, "fmt "), pcmFormat(1, kRate, 16));
    bool hasFact = true;
    chunkContents(out, "fact", &hasFact);
    EXPECT_FALSE(hasFact);
    std::vector<int16_t> samples = samplesOf(out);
    ASSERT_EQ(samples.size(), factCount);
    for (const auto& [peer, decoded] : peerDecodes(encoder)) {
      ASSERT_GE(decoded.size(), factCount) << peer;
      EXPECT_EQ(samples, prefix(decoded, factCount)) << "differs from " << peer;
    }
    size_t offGrid = 0;
    for (int16_t s : samples) offGrid += s % 8 != 0;
    EXPECT_EQ(offGrid, 0u);
  }
}

TEST_F(GsmTest, EachFileOfARunStartsFromAFreshDecoder) {
  encode("sox", "first", speechLike(kRate, 2));
  encode("sox", "second", speechLike(kRate, 3));
  Bytes firstAlone = decodeWithQuarlix("first");
  Bytes secondAlone = decodeWithQuarlix("second");
  ASSERT_NE(samplesOf(firstAlone), samplesOf(secondAlone));
  for (const char* name : {"first.wav", "second.wav"}) std::remove(dir.file(name).c_str());

  CliResult both = runQuarlixIn(dir.path(), {"-d", "in/second.wav", "in/first.wav"});
  ASSERT_EQ(both.status, 0) << both.output;
  EXPECT_EQ(readFileBytes(dir.file("first.wav")), firstAlone);
  EXPECT_EQ(readFileBytes(dir.file("second.wav")), secondAlone);
}

TEST_F(GsmTest, CountIsBoundedByTheWholeBlocksPresent) {
  Bytes gsm = encode("sox", "speech", speechLike(kSpeechSamples, 4));
  Bytes fmt = chunkContents(gsm, "fmt ");
  Bytes data = chunkContents(gsm, "data");
  size_t blocks = data.size() / kBlockBytes;
  ASSERT_EQ(data.size() % kBlockBytes, 0u);
  ASSERT_EQ(blocks * kBlockSamples, 76u * 320);
  // The peers decode every whole block, whatever the fact count says.
  std::vector<int16_t> reference = peerDecodes("speech")[1].second;
  ASSERT_EQ(reference.size(), blocks * kBlockSamples);

  struct Case {
    const char* what;
    uint32_t fact;
    uint16_t samplesPerBlock;
    size_t dataBytes;
    size_t expected;
  };
  const Case cases[] = {
      {"fact beyond the blocks", 30000, 320, data.size(), blocks * 320},
      {"fact above INT32_MAX", 0xFFFFFFF0u, 320, data.size(), blocks * 320},
      {"wSamplesPerBlock above 320", 0xFFFFFFF0u, 640, data.size(), blocks * 320},
      {"wSamplesPerBlock 65535", 1000000, 65535, data.size(), blocks * 320},
      {"wSamplesPerBlock below 320", 30000, 160, data.size(), blocks * 160},
      {"data ending inside a block", 30000, 320, (blocks - 1) * kBlockBytes + 30, (blocks - 1) * 320},
      {"data shorter than a block", 30000, 320, 64, 0},
      {"fact 0", 0, 320, data.size(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes fixedFmt = fmt;
    fixedFmt[18] = static_cast<uint8_t>(c.samplesPerBlock);
    fixedFmt[19] = static_cast<uint8_t>(c.samplesPerBlock >> 8);
    Bytes cut(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(c.dataBytes));
    writeFileBytes(dir.file("in/case.wav"),
                   waveImage({chunk("fmt ", fixedFmt), chunk("fact", factContents(c.fact)), chunk("data", cut)}));
    Bytes out = decodeWithQuarlix("case");
    bool hasData = false;
    chunkContents(out, "data", &hasData);
    EXPECT_TRUE(hasData);
    EXPECT_EQ(samplesOf(out), prefix(reference, c.expected));
    EXPECT_EQ(samplesOf(out).size(), c.expected);
  }
}

TEST_F(GsmTest, KeepsLoopAndTextChunks) {
  Bytes gsm = encode("sox", "looped", speechLike(kRate, 5));
  Bytes smpl = smplContents(1, 0, 100, 4999);
  Bytes info = infoComment("a comment");
  writeFileBytes(dir.file("in/looped.wav"),
                 waveImage({chunk("fmt ", chunkContents(gsm, "fmt ")), chunk("fact", chunkContents(gsm, "fact")),
                            chunk("data", chunkContents(gsm, "data")), chunk("smpl", smpl), info}));
  Bytes out = decodeWithQuarlix("looped");
  EXPECT_EQ(chunkContents(out, "smpl"), smpl);
  Bytes list = chunkContents(out, "LIST");
  EXPECT_EQ(Bytes(info.begin() + 8, info.end()), list);
  EXPECT_EQ(samplesOf(out).size(), kRate);
}

TEST_F(GsmTest, RefusesWhatItCannotDecode) {
  Bytes gsm = encode("sox", "speech", speechLike(kRate, 6));
  Bytes data = chunkContents(gsm, "data");
  const std::string mono = "Quarlix - Only mono samples can be decompressed from GSM 06.10 !\n";
  const std::string microsoft = "Quarlix - Only Microsoft GSM 06.10 is supported !\n";
  const std::string shortFmt = "Quarlix - GSM 06.10 format chunk too short for wSamplesPerBlock !\n";
  Bytes cutShort = gsmFormat(1, 65, 320);
  cutShort.pop_back();
  const std::pair<Bytes, std::string> cases[] = {
      {gsmFormat(1, 64, 320), microsoft},
      {gsmFormat(1, 130, 320), microsoft},
      {gsmFormat(2, 65, 320), mono},
      {gsmFormat(2, 64, 320), mono},  // the channel check comes first
      {gsmFormat(0, 65, 320), mono},
      {formatContents(49, 1, kRate, 1625, 65, 0), shortFmt},
      {cutShort, shortFmt},
  };
  for (const auto& [fmt, message] : cases) {
    SCOPED_TRACE(message);
    writeFileBytes(dir.file("in/bad.wav"),
                   waveImage({chunk("fmt ", fmt), chunk("fact", factContents(kRate)), chunk("data", data)}));
    CliResult result = runQuarlixIn(dir.path(), {"-d", "in/bad.wav"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, "");
    EXPECT_TRUE(result.output.ends_with(message + "\n")) << result.output;
    EXPECT_FALSE(fileExists(dir.file("bad.wav")));
  }
}

TEST(GsmDecode, AnyBytesDecodeAndAShortOutputIsAPrefix) {
  // Three blocks of arbitrary bits and a stray tail that must stay unread.
  std::vector<uint8_t> blocks(3 * kBlockBytes + 10);
  uint32_t state = 12345;
  for (uint8_t& b : blocks) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  std::vector<uint8_t> whole(2 * 3 * kBlockSamples), part(2 * 700);
  ASSERT_TRUE(decodeGsm610(blocks, whole));
  ASSERT_TRUE(decodeGsm610(blocks, part));
  EXPECT_EQ(part, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(part.size())));
  std::vector<int16_t> samples = pcm16FromBytes(whole.data(), whole.size() / 2);
  for (int16_t s : samples) ASSERT_EQ(s % 8, 0);
}

}  // namespace
