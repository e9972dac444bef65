// IMA and Microsoft ADPCM against the common tools: what quarlix writes,
// sox and libsndfile decode to exactly what quarlix decodes, and ffmpeg
// reads closely; what those tools write, quarlix decodes exactly as sox and
// libsndfile do. A missing tool fails these tests.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/cli_runner.h"
#include "support/peer_decoding.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

namespace {

enum class Kind { Noise, Chirp, Speech, Silence, Square };

struct Material {
  Kind kind;
  uint32_t rate;
  double seconds;
};

Samples makeSignal(const Material& m) {
  size_t count = static_cast<size_t>(m.rate * m.seconds);
  switch (m.kind) {
    case Kind::Noise: return whiteNoise(count, 12000, m.rate);
    case Kind::Chirp: return linearChirp(count, m.rate, 40, m.rate / 2.0, 26000);
    case Kind::Speech: return speechLikeBursts(count, m.rate, m.rate + 1);
    case Kind::Silence: return silence(count);
    case Kind::Square: return fullScaleSquare(count, m.rate / 300);
  }
  return {};
}

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::Noise: return "Noise";
    case Kind::Chirp: return "Chirp";
    case Kind::Speech: return "Speech";
    case Kind::Silence: return "Silence";
    case Kind::Square: return "Square";
  }
  return "";
}

void expectQuarlixRuns(const CliResult& result, const std::string& what) {
  expectRuns(result, what);
  EXPECT_TRUE(result.errors.empty()) << what;
  EXPECT_TRUE(result.output.ends_with(kCompleted)) << what << "\n" << result.output;
}

double snrDb(const Samples& reference, const Samples& other) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    double d = double(other[i]) - reference[i];
    signal += double(reference[i]) * reference[i];
    noise += d * d;
  }
  if (noise == 0) return INFINITY;
  return 10 * std::log10(signal / noise);
}

// quarlix writes: -c with the codec and block option, then -d of the result.
struct WrittenCase {
  const char* codec;  // the -c option
  Material material;
  int blockSize;  // 0: the codec's default
};

void PrintTo(const WrittenCase& c, std::ostream* out) {
  *out << c.codec << " " << kindName(c.material.kind) << " " << c.material.rate << " Hz, -b" << c.blockSize;
}

class QuarlixWrites : public ::testing::TestWithParam<WrittenCase> {};

TEST_P(QuarlixWrites, PeersDecodeItExactlyAndFfmpegClosely) {
  const WrittenCase& c = GetParam();
  ScratchDir dir;
  Samples input = makeSignal(c.material);
  writeFileBytes(dir.file("in.wav"), monoPcmWave(input, c.material.rate));
  std::filesystem::create_directory(dir.file("enc"));
  std::filesystem::create_directory(dir.file("dec"));
  std::vector<std::string> args{c.codec};
  if (c.blockSize != 0) args.push_back("-b" + std::to_string(c.blockSize));
  args.push_back("../in.wav");
  expectQuarlixRuns(runQuarlixIn(dir.file("enc"), args), "compress");
  expectQuarlixRuns(runQuarlixIn(dir.file("dec"), {"-d", "../enc/in.wav"}), "decompress");
  ASSERT_EQ(readWav(dir.file("enc/in.wav")).factCount, input.size());
  Samples ours = pcmSamplesOf(dir.file("dec/in.wav"));
  ASSERT_EQ(ours.size(), input.size());

  Samples bySox, bySndfile;
  peerDecode(dir, "enc/in.wav", bySox, bySndfile);
  expectSameSamples(ours, bySox, "sox");
  expectSameSamples(ours, bySndfile, "libsndfile");

  CliResult ffmpeg = runProgramIn(dir.path(), "ffmpeg", {"-nostdin", "-loglevel", "error", "-i", "enc/in.wav", "-c:a",
                                                          "pcm_s16le", "-f", "wav", "ffmpeg.wav"});
  expectRuns(ffmpeg, "ffmpeg");
  EXPECT_TRUE(ffmpeg.errors.empty()) << ffmpeg.errors;
  Samples byFfmpeg = pcmSamplesOf(dir.file("ffmpeg.wav"));
  ASSERT_GE(byFfmpeg.size(), ours.size());
  // ffmpeg's Microsoft ADPCM decoder predicts with the coefficients divided
  // by 4 and a division by 64 that truncates, so on strongly correlated
  // material its output drifts through the long blocks (31 dB, 625 units at
  // most, on the 44.1 kHz speech); its IMA decoder rounds each step anew.
  bool ima = std::string(c.codec) == "-cadpcmima";
  EXPECT_GE(snrDb(ours, byFfmpeg), ima ? 35.0 : 30.0);
}

std::string writtenName(const ::testing::TestParamInfo<WrittenCase>& info) {
  const WrittenCase& c = info.param;
  return std::string(c.codec + 7) + "_" + kindName(c.material.kind) + std::to_string(c.material.rate) + "_b" +
         std::to_string(c.blockSize);
}

std::vector<WrittenCase> writtenCases() {
  const std::vector<std::pair<Material, int>> materials = {
      {{Kind::Noise, 8000, 4}, 0},      {{Kind::Chirp, 11025, 4}, 16},  {{Kind::Speech, 22050, 5}, 0},
      {{Kind::Square, 44100, 3}, 1024}, {{Kind::Silence, 8000, 2}, 100}, {{Kind::Speech, 44100, 5}, 0},
      {{Kind::Chirp, 22050, 3}, 512},   {{Kind::Square, 8000, 3}, 16},  {{Kind::Noise, 44100, 2}, 16},
  };
  std::vector<WrittenCase> cases;
  for (const char* codec : {"-cadpcmima", "-cadpcmms"}) {
    for (const auto& [material, block] : materials) cases.push_back({codec, material, block});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Adpcm, QuarlixWrites, ::testing::ValuesIn(writtenCases()), writtenName);

// Jumps across the full range drive the step of 16-byte blocks beyond
// 32767. sox follows the reference arithmetic there; libsndfile keeps the
// step in 16 bits and parts from both from that sample on, so it is no
// oracle for this material.
TEST(AdpcmPeers, MsStepsBeyond16BitsDecodeAsSoxDoes) {
  ScratchDir dir;
  Samples input = fullScaleRandomSigns(16000, 9);
  writeFileBytes(dir.file("in.wav"), monoPcmWave(input, 8000));
  std::filesystem::create_directory(dir.file("enc"));
  std::filesystem::create_directory(dir.file("dec"));
  expectQuarlixRuns(runQuarlixIn(dir.file("enc"), {"-cadpcmms", "-b16", "../in.wav"}), "compress");
  expectQuarlixRuns(runQuarlixIn(dir.file("dec"), {"-d", "../enc/in.wav"}), "decompress");
  Samples ours = pcmSamplesOf(dir.file("dec/in.wav"));
  ASSERT_EQ(ours.size(), input.size());
  expectRuns(runProgramIn(dir.path(), "sox", {"-D", "enc/in.wav", "-e", "signed-integer", "-b", "16", "sox.wav"}),
             "sox decode");
  expectSameSamples(ours, pcmSamplesOf(dir.file("sox.wav")), "sox");
}

// A damaged Microsoft ADPCM block: from a delta of 30000, `growing` codes of
// -8 triple it (the samples saturate), then 70 codes of 0 shrink it again,
// then codes of +1 and -1 show it in the samples. The fmt is the full one
// with the seven standard pairs, as sox reads them from the file.
Bytes runawayMsAdpcmWave(size_t growing) {
  Bytes block{0};
  appendLE16(block, 30000);
  appendLE16(block, 0);
  appendLE16(block, 0);
  Bytes codes(growing / 2, 0x88);
  codes.resize(codes.size() + 35, 0x00);
  codes.resize(256 - 7, 0x1F);
  block.insert(block.end(), codes.begin(), codes.end());
  Bytes fmt = formatContents(2, 1, 8000, 4096, 256, 4);
  appendLE16(fmt, 32);
  appendLE16(fmt, 500);
  appendLE16(fmt, 7);
  for (auto [c1, c2] : std::initializer_list<std::pair<int, int>>{
           {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}) {
    appendLE16(fmt, static_cast<uint16_t>(c1));
    appendLE16(fmt, static_cast<uint16_t>(c2));
  }
  return waveImage({chunk("fmt ", fmt), chunk("fact", factContents(500)), chunk("data", block)});
}

// Four codes of -8 take the delta to 2430000, past 2^21 but with every
// product inside 32 bits: the arithmetic is the written one, and sox's.
// Six take it to 7290000, whose next product no int32 holds: that one is
// bounded, and the run ends cleanly (the sanitizer build would stop it).
TEST(AdpcmPeers, MsRunawayDeltaDecodesAsSoxDoes) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.file("dec"));
  writeFileBytes(dir.file("past2to21.wav"), runawayMsAdpcmWave(4));
  writeFileBytes(dir.file("pastint32.wav"), runawayMsAdpcmWave(6));
  expectQuarlixRuns(runQuarlixIn(dir.file("dec"), {"-d", "../past2to21.wav", "../pastint32.wav"}), "decompress");
  expectRuns(runProgramIn(dir.path(), "sox", {"-D", "past2to21.wav", "-e", "signed-integer", "-b", "16", "sox.wav"}),
             "sox decode");
  Samples ours = pcmSamplesOf(dir.file("dec/past2to21.wav"));
  Samples bySox = pcmSamplesOf(dir.file("sox.wav"));
  ASSERT_EQ(ours.size(), 500u);
  // The delta shows in the samples once it has shrunk: not all saturated.
  EXPECT_NE(ours.back(), -32768);
  expectSameSamples(ours, bySox, "sox");
  EXPECT_EQ(pcmSamplesOf(dir.file("dec/pastint32.wav")).size(), 500u);
}

// A peer writes, with its own block size; quarlix -d must agree with sox
// and libsndfile on every sample it yields.
struct PeerCase {
  const char* writer;
  bool ima;
  Material material;
};

std::vector<std::string> writerCommand(const PeerCase& c, std::string& program) {
  std::string writer = c.writer;
  if (writer == "sox") {
    program = "sox";
    return {"-D", "in.wav", "-e", c.ima ? "ima-adpcm" : "ms-adpcm", "peer.wav"};
  }
  if (writer == "sndfile") {
    program = "sndfile-convert";
    return {c.ima ? "-ima-adpcm" : "-ms-adpcm", "in.wav", "peer.wav"};
  }
  program = "ffmpeg";
  return {"-nostdin", "-loglevel", "error", "-i", "in.wav", "-c:a", c.ima ? "adpcm_ima_wav" : "adpcm_ms", "peer.wav"};
}

void PrintTo(const PeerCase& c, std::ostream* out) {
  *out << c.writer << (c.ima ? " IMA " : " MS ") << kindName(c.material.kind) << " " << c.material.rate << " Hz";
}

class PeerWrites : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerWrites, QuarlixDecodesItAsSoxAndLibsndfileDo) {
  const PeerCase& c = GetParam();
  ScratchDir dir;
  Samples input = makeSignal(c.material);
  writeFileBytes(dir.file("in.wav"), monoPcmWave(input, c.material.rate));
  std::string program;
  std::vector<std::string> args = writerCommand(c, program);
  expectRuns(runProgramIn(dir.path(), program, args), program + " encode");
  ASSERT_EQ(readWav(dir.file("peer.wav")).formatTag, c.ima ? 17 : 2);

  std::filesystem::create_directory(dir.file("dec"));
  expectQuarlixRuns(runQuarlixIn(dir.file("dec"), {"-d", "../peer.wav"}), "decompress");
  Samples ours = pcmSamplesOf(dir.file("dec/peer.wav"));
  ASSERT_GE(ours.size(), input.size());
  Samples bySox, bySndfile;
  peerDecode(dir, "peer.wav", bySox, bySndfile);
  expectSameSamples(ours, bySox, "sox");
  expectSameSamples(ours, bySndfile, "libsndfile");
}

std::string peerName(const ::testing::TestParamInfo<PeerCase>& info) {
  const PeerCase& c = info.param;
  return std::string(c.writer) + (c.ima ? "_ima_" : "_ms_") + kindName(c.material.kind) +
         std::to_string(c.material.rate);
}

std::vector<PeerCase> peerCases() {
  const std::vector<Material> materials = {
      {Kind::Speech, 22050, 4}, {Kind::Chirp, 44100, 3}, {Kind::Square, 8000, 3}, {Kind::Noise, 11025, 3}};
  std::vector<PeerCase> cases;
  for (const char* writer : {"sox", "sndfile", "ffmpeg"}) {
    for (bool ima : {true, false}) {
      for (const Material& m : materials) cases.push_back({writer, ima, m});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Adpcm, PeerWrites, ::testing::ValuesIn(peerCases()), peerName);

}  // namespace
