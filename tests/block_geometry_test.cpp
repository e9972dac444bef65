// Every block geometry a fmt can state, through the binary. Decoding runs
// over block sizes from the smallest that holds a header up to 80 bytes and
// a few large ones, samples per block from 0 to two past what a block
// holds, fact below, on and above the data, block counts on both sides of
// the lanes' eight, with and without a trailing partial block: a file is
// refused exactly when its blocks cannot hold its samples, and otherwise
// every output (WAV, .bin, a law) holds the device library's decode of the
// same blocks. Encoding runs every format at every -b class, written and
// searched, on lengths around block, lane and run boundaries, and the round
// trip equals the library's decode of what was written. The sanitizer
// build runs it all, so a path that assumes a geometry cannot hide.
#include <gtest/gtest.h>

#include <gsm.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "quarlix_decode.h"
#include "support/block_format_wave.h"
#include "support/cli_runner.h"
#include "support/peer_decoding.h"
#include "support/test_signals.h"

namespace {

struct BlockFormat {
  const char* name;
  uint16_t tag;
  uint32_t headerBytes;    // the smallest block that holds a header
  uint32_t headerSamples;  // what the header holds whole
  const char* refusal;
};

constexpr BlockFormat kIma = {"IMA", 17, 4, 1, "Quarlix - Invalid block layout in IMA Adpcm file !\n"};
constexpr BlockFormat kMs = {"MS", 2, 7, 2, "Quarlix - Invalid block layout in Microsoft Adpcm file !\n"};
constexpr BlockFormat kOrbel = {"Orbel", 0x2000, 2, 0, "Quarlix - Invalid block layout in Olbek's Adpcm file !\n"};
constexpr BlockFormat kN64 = {"N64", 0x2003, 5, 2, "Quarlix - Invalid block layout in Olbek's AdpcmN64 file !\n"};
constexpr BlockFormat kGsm = {"GSM", 49, 65, 320, "Quarlix - Only Microsoft GSM 06.10 is supported !\n"};

void PrintTo(const BlockFormat& f, std::ostream* out) { *out << f.name; }

bool isGsm(const BlockFormat& f) { return f.tag == 49; }

uint32_t capacityOf(const BlockFormat& f, uint32_t blockBytes) {
  if (isGsm(f)) return blockBytes == 65 ? 320 : 0;
  return blockBytes < f.headerBytes ? 0 : 2 * (blockBytes - f.headerBytes) + f.headerSamples;
}

struct Geometry {
  uint32_t blockBytes;
  uint32_t samplesPerBlock;
  uint32_t fact;
  size_t blocks;
  size_t partialBytes;  // a trailing partial block's
};

bool refused(const BlockFormat& f, const Geometry& g) {
  if (isGsm(f)) return g.blockBytes != 65;
  return g.samplesPerBlock == 0 || g.samplesPerBlock > capacityOf(f, g.blockBytes);
}

// Block data whose headers take every value: step indices past 88, odd
// pairs, full-scale samples.
Bytes blockData(const Geometry& g, uint32_t seed) {
  Bytes data(g.blocks * g.blockBytes + g.partialBytes);
  NoiseSource noise{seed * 2654435761u + 1};
  for (uint8_t& b : data) b = static_cast<uint8_t>(noise.next() >> 11);
  return data;
}

// The geometries of one format, sampled deterministically: every block
// size meets every samples-per-block class, and the fact choices, block
// counts and partial blocks rotate through them.
std::vector<Geometry> geometriesOf(const BlockFormat& f) {
  std::vector<uint32_t> sizes;
  if (isGsm(f)) {
    // Only 65 bytes decode; they come round again for other counts and facts.
    sizes = {1, 64, 65, 65, 65, 66, 130};
  } else {
    for (uint32_t size = f.headerBytes; size <= 80; ++size) sizes.push_back(size);
    sizes.insert(sizes.end(), {255, 256, 1024, 4096, 65535});
  }
  const size_t counts[] = {1, 7, 8, 9, 15, 16, 17, 2};
  std::vector<Geometry> out;
  size_t k = 0;
  for (uint32_t size : sizes) {
    uint32_t cap = capacityOf(f, size);
    std::set<uint32_t> spbs = {0, 1, 2, 3, cap / 2, cap - std::min(cap, 1u), cap, cap + 1, cap + 2};
    for (uint32_t spb : spbs) {
      if (spb > 0xFFFF) continue;
      // Large blocks in few copies, so no output passes the WAV writer's 1 MiB.
      size_t blocks = std::min<size_t>(counts[k / 5 % std::size(counts)], std::max<size_t>(1, 65536 / size));
      uint64_t inBlocks = uint64_t{spb} * blocks;
      uint32_t facts[] = {static_cast<uint32_t>(inBlocks - std::min<uint64_t>(inBlocks, 3)),
                          static_cast<uint32_t>(inBlocks), static_cast<uint32_t>(inBlocks + 5), 0, 0x7FFFFFFF};
      out.push_back({size, spb, facts[k % 5], blocks, k / 3 % 2 == 1 ? (size + 1) / 2 % size : 0});
      ++k;
    }
  }
  return out;
}

// GSM 06.10 as libgsm decodes it: one stream of 320 samples a block,
// whatever wSamplesPerBlock says; that only bounds the count.
Samples gsmDecode(const Bytes& data, size_t count) {
  std::unique_ptr<gsm_state, void (*)(gsm_state*)> gsm(gsm_create(), gsm_destroy);
  int on = 1;
  gsm_option(gsm.get(), GSM_OPT_WAV49, &on);
  Samples out;
  for (size_t at = 0; out.size() < count; at += 65) {
    gsm_signal frames[320];
    gsm_byte* block = const_cast<gsm_byte*>(data.data() + at);
    gsm_decode(gsm.get(), block, frames);
    gsm_decode(gsm.get(), block + 33, frames + 160);
    out.insert(out.end(), frames, frames + std::min<size_t>(320, count - out.size()));
  }
  return out;
}

// The samples the library's block decoders (libgsm for GSM 06.10) give
// for the blocks, as quarlix -d must: fact, cut to the whole blocks.
Samples libraryDecode(const BlockFormat& f, const Geometry& g, const Bytes& data) {
  uint64_t perBlock = isGsm(f) ? std::min<uint32_t>(g.samplesPerBlock, 320) : g.samplesPerBlock;
  size_t whole = data.size() / g.blockBytes;
  Samples out(static_cast<size_t>(std::min<uint64_t>(g.fact, whole * perBlock)));
  if (isGsm(f)) return gsmDecode(data, out.size());
  qx_orbel_history history{};
  for (size_t done = 0, at = 0; done < out.size(); done += perBlock, at += g.blockBytes) {
    size_t count = std::min<size_t>(perBlock, out.size() - done);
    const uint8_t* block = data.data() + at;
    size_t decoded = count;
    uint32_t clamps = 0;
    switch (f.tag) {
      case 17: decoded = qx_ima_decode_block(block, g.blockBytes, out.data() + done, count); break;
      case 2: decoded = qx_ms_decode_block(block, g.blockBytes, out.data() + done, count); break;
      case 0x2000: decoded = qx_orbel_decode_block(block, g.blockBytes, out.data() + done, count, &history); break;
      default: decoded = qx_n64_decode_block(block, g.blockBytes, out.data() + done, count, &clamps); break;
    }
    EXPECT_EQ(decoded, count);
  }
  return out;
}

// Under a wrapper (valgrind, which sees uninitialised samples as well) a
// fifth of the sweep; the sanitizer build runs all of it.
size_t sweepStride() {
  const char* wrapper = std::getenv("QUARLIX_TEST_WRAPPER");
  return wrapper != nullptr && *wrapper != '\0' ? 5 : 1;
}

std::string caseName(size_t index) {
  std::string digits = std::to_string(index);
  return "g" + std::string(5 - digits.size(), '0') + digits;
}

// The 16-bit samples of a .bin image, header checked: big-endian PCM.
Samples binSamples(const Bytes& image) {
  EXPECT_GE(image.size(), 20u);
  if (image.size() < 20) return {};
  EXPECT_EQ(image[1], 1);
  size_t count = size_t{image[8]} << 24 | image[9] << 16 | image[10] << 8 | image[11];
  EXPECT_GE(image.size(), 20 + 2 * count);
  Samples out;
  for (size_t i = 0; i < count && 21 + 2 * i < image.size(); ++i) {
    out.push_back(static_cast<int16_t>(image[20 + 2 * i] << 8 | image[21 + 2 * i]));
  }
  return out;
}

Samples libraryImageSamples(const Bytes& image) {
  qx_decoder decoder;
  EXPECT_EQ(qx_open(&decoder, image.data(), image.size()), QX_OK);
  Samples out(qx_sample_count(&decoder) + 1);
  out.resize(qx_read(&decoder, out.data(), out.size()));
  return out;
}

void expectBatch(const CliResult& result, const std::string& what) {
  EXPECT_EQ(result.status, 0) << what << "\n" << result.output.substr(result.output.size() - 2000);
  EXPECT_TRUE(result.output.ends_with(kCompleted)) << what;
  EXPECT_EQ(result.errors, "") << what;
}

class DecodingGeometry : public ::testing::TestWithParam<BlockFormat> {};

TEST_P(DecodingGeometry, RefusesWhatBlocksCannotHoldAndDecodesTheRestAsTheLibrary) {
  const BlockFormat& f = GetParam();
  ScratchDir dir;
  for (const char* folder : {"in", "bin", "raw", "wav", "law"}) std::filesystem::create_directory(dir.file(folder));
  std::vector<Geometry> cases = geometriesOf(f);
  // The two files that once wrote past the output: one sample a block.
  if (f.tag == 0x2003) cases.push_back({5, 1, 1011, 11, 0});
  if (f.tag == 2) cases.push_back({31, 1, 9, 9, 0});
  std::vector<std::pair<std::string, Samples>> accepted;
  size_t refusalsRun = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    if (i % sweepStride() != 0 && i + 1 < cases.size()) continue;
    const Geometry& g = cases[i];
    Bytes data = blockData(g, static_cast<uint32_t>(i));
    Bytes wave = blockFormatWave(f.tag, 22050, static_cast<uint16_t>(g.blockBytes),
                                 static_cast<uint16_t>(g.samplesPerBlock), g.fact, data);
    std::string name = caseName(i);
    SCOPED_TRACE(name + ": " + std::to_string(g.blockBytes) + "-byte blocks of " +
                 std::to_string(g.samplesPerBlock) + ", fact " + std::to_string(g.fact) + ", " +
                 std::to_string(g.blocks) + " blocks + " + std::to_string(g.partialBytes));
    if (refused(f, g)) {
      // Each refusal ends its run, so only every seventh runs alone.
      if (i / sweepStride() % 7 != 0) continue;
      writeFileBytes(dir.file("bad.wav"), wave);
      CliResult result = runQuarlixIn(dir.path(), {"-d", "bad.wav"});
      EXPECT_EQ(result.status, 1);
      EXPECT_TRUE(result.output.ends_with(std::string(f.refusal) + "\n")) << result.output;
      ++refusalsRun;
      continue;
    }
    writeFileBytes(dir.file("in/" + name + ".wav"), wave);
    writeFileBytes(dir.file("bin/" + name + ".wav"), wave);
    writeFileBytes(dir.file("raw/" + name + ".wav"), wave);
    accepted.emplace_back(name, libraryDecode(f, g, data));
  }
  ASSERT_GE(accepted.size() * sweepStride(), 20u);
  EXPECT_GE(refusalsRun * sweepStride(), 4u);

  expectBatch(runQuarlixIn(dir.file("wav"), {"-d", "../in/*.wav"}), "-d");
  expectBatch(runQuarlixIn(dir.path(), {"-d", "-ob", "bin/*.wav"}), "-d -ob");
  expectBatch(runQuarlixIn(dir.file("law"), {"-d", "-tu", "../in/*.wav"}), "-d -tu");
  // The blocks themselves as an image, which the device library plays.
  if (!isGsm(f) && f.tag != 2) expectBatch(runQuarlixIn(dir.path(), {"-ob", "raw/*.wav"}), "-ob");
  for (const auto& [name, expected] : accepted) {
    SCOPED_TRACE(name);
    EXPECT_EQ(pcmSamplesOf(dir.file("wav/" + name + ".wav")), expected);
    EXPECT_EQ(binSamples(readFileBytes(dir.file("bin/" + name + ".bin"))), expected);
    EXPECT_EQ(pcmSamplesOf(dir.file("law/" + name + ".wav")).size(), expected.size());
    if (!isGsm(f) && f.tag != 2) {
      EXPECT_EQ(libraryImageSamples(readFileBytes(dir.file("raw/" + name + ".bin"))), expected);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryBlockFormat, DecodingGeometry, ::testing::Values(kIma, kMs, kOrbel, kN64, kGsm),
                         [](const ::testing::TestParamInfo<BlockFormat>& info) { return info.param.name; });

struct EncoderCase {
  const char* option;
  uint16_t tag;
  uint32_t headerBytes;
  uint32_t headerSamples;
  bool search;
};

void PrintTo(const EncoderCase& e, std::ostream* out) { *out << e.option << (e.search ? " -q" : ""); }

class EncodingGeometry : public ::testing::TestWithParam<EncoderCase> {};

// Lengths around block counts where the lanes (8 blocks) and IMA ADPCM's
// runs (32 blocks) begin, one sample short, exact, one over.
TEST_P(EncodingGeometry, RoundTripsEqualTheLibraryDecodeAtEveryBlockClass) {
  const EncoderCase& e = GetParam();
  const BlockFormat f = {e.option, e.tag, e.headerBytes, e.headerSamples, ""};
  // The searched encoder costs more: fewer block classes and counts.
  std::vector<uint32_t> blockSizes = e.search ? std::vector<uint32_t>{16, 17, 101}
                                              : std::vector<uint32_t>{16, 17, 18, 64, 255, 1024};
  std::vector<size_t> counts = e.search ? std::vector<size_t>{1, 8, 9} : std::vector<size_t>{1, 7, 8, 9, 16, 17, 31, 32, 33};
  blockSizes.resize(sweepStride() == 1 ? blockSizes.size() : 2);
  for (uint32_t blockBytes : blockSizes) {
    SCOPED_TRACE("-b" + std::to_string(blockBytes));
    ScratchDir dir;
    for (const char* folder : {"in", "enc", "trip"}) std::filesystem::create_directory(dir.file(folder));
    uint32_t perBlock = capacityOf(f, blockBytes);
    std::vector<size_t> lengths = {1, 2, 3};
    for (size_t count : counts) {
      for (size_t length : {count * perBlock - 1, count * perBlock, count * perBlock + 1}) lengths.push_back(length);
    }
    for (size_t length : lengths) {
      writeFileBytes(dir.file("in/" + caseName(length) + ".wav"),
                     monoPcmWave(speechLikeBursts(length, 22050, static_cast<uint32_t>(length))));
    }
    std::vector<std::string> options = {e.option, "-b" + std::to_string(blockBytes)};
    if (e.search) options.insert(options.begin(), "-q");
    std::vector<std::string> encode = options, trip = options;
    encode.push_back("../in/*.wav");
    trip.insert(trip.end(), {"-d", "../in/*.wav"});
    expectBatch(runQuarlixIn(dir.file("enc"), encode), "encode");
    expectBatch(runQuarlixIn(dir.file("trip"), trip), "round trip");
    for (size_t length : lengths) {
      SCOPED_TRACE(length);
      std::string name = caseName(length) + ".wav";
      WavContents encoded = readWav(dir.file("enc/" + name));
      EXPECT_EQ(encoded.formatTag, e.tag);
      EXPECT_EQ(encoded.factCount, length);
      size_t blocks = (length + perBlock - 1) / perBlock;
      ASSERT_EQ(encoded.data.size(), blocks * blockBytes);
      Geometry g{blockBytes, perBlock, static_cast<uint32_t>(length), blocks, 0};
      EXPECT_EQ(pcmSamplesOf(dir.file("trip/" + name)), libraryDecode(f, g, encoded.data));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormatWrittenAndSearched, EncodingGeometry,
    ::testing::Values(EncoderCase{"-cadpcm", 0x2000, 2, 0, false}, EncoderCase{"-cadpcmn64", 0x2003, 5, 2, false},
                      EncoderCase{"-cadpcmima", 17, 4, 1, false}, EncoderCase{"-cadpcmms", 2, 7, 2, false},
                      EncoderCase{"-cadpcm", 0x2000, 2, 0, true}, EncoderCase{"-cadpcmn64", 0x2003, 5, 2, true},
                      EncoderCase{"-cadpcmima", 17, 4, 1, true}, EncoderCase{"-cadpcmms", 2, 7, 2, true}),
    [](const ::testing::TestParamInfo<EncoderCase>& info) {
      return std::string(info.param.option + 2) + (info.param.search ? "_searched" : "_written");
    });

}  // namespace
