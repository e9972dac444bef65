// The -q search encoder through the binary, for every format: the same
// input gives the same bytes, the stream is an ordinary one (quarlix -d and,
// for IMA and Microsoft ADPCM, sox and libsndfile decode it alike, and N64
// never warns), and no block decodes worse than the written encoder's block
// from the same state, while the whole stream decodes better.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "codecs/ima_adpcm.h"
#include "codecs/ima_search.h"
#include "codecs/ms_adpcm.h"
#include "codecs/orbel_adpcm.h"
#include "codecs/orbel_adpcm_n64.h"
#include "codecs/orbel_n64_search.h"
#include "codecs/orbel_search.h"
#include "codecs/search_beam.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"
#include "support/cli_runner.h"
#include "support/orbel_reference.h"
#include "support/peer_decoding.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

namespace {

constexpr uint32_t kRate = 22050;
constexpr size_t kSamples = 6000;

enum class Material { Speech, Chirp, FullScale };

Samples makeSignal(Material material) {
  switch (material) {
    case Material::Speech: return speechLikeBursts(kSamples, kRate, 7);
    case Material::Chirp: return linearChirp(kSamples, kRate, 60, 9000, 12000);
    case Material::FullScale: return fullScaleRandomSigns(kSamples, 5);
  }
  return {};
}

const char* materialName(Material material) {
  switch (material) {
    case Material::Speech: return "Speech";
    case Material::Chirp: return "Chirp";
    case Material::FullScale: return "FullScale";
  }
  return "";
}

uint64_t squaredError(const int16_t* decoded, const int16_t* input, size_t count) {
  uint64_t sum = 0;
  for (size_t i = 0; i < count; ++i) {
    int64_t miss = int64_t{decoded[i]} - input[i];
    sum += static_cast<uint64_t>(miss * miss);
  }
  return sum;
}

// One block of a -q stream: its error after decoding, and that of the
// written encoder's block from the same state (when that block is a floor).
struct BlockErrors {
  uint64_t search = 0;
  uint64_t written = 0;
  bool writtenIsFloor = true;
  bool sameAsWritten = false;  // the block's bytes are the written encoder's
};

bool sameBytes(const uint8_t* block, const Bytes& written, size_t count) {
  return std::equal(written.begin(), written.begin() + static_cast<ptrdiff_t>(count), block);
}

// What a format's check sees: the stream's blocks, and the input of each
// block as the job codes it (zero samples after the end of the input).
struct BlockStream {
  const Bytes& data;
  size_t blockBytes;
  size_t samplesPerBlock;
  const Samples& input;

  size_t blockCount() const { return data.size() / blockBytes; }
  const uint8_t* block(size_t k) const { return data.data() + k * blockBytes; }
  size_t realSamples(size_t k) const { return std::min(samplesPerBlock, input.size() - k * samplesPerBlock); }
  Samples paddedInput(size_t k) const {
    Samples x(samplesPerBlock, 0);
    std::copy_n(input.begin() + static_cast<ptrdiff_t>(k * samplesPerBlock), realSamples(k), x.begin());
    return x;
  }
};

// Each format decodes the stream block by block, appends the samples the
// decoder yields to `decoded`, and returns every block's errors.
using BlockCheck = std::function<std::vector<BlockErrors>(const BlockStream&, Samples& decoded)>;

// Orbel ADPCM: the history runs on from the search's own blocks; only the
// block's real samples are coded.
std::vector<BlockErrors> checkOrbel(const BlockStream& s, Samples& decoded) {
  std::vector<BlockErrors> errors;
  AdpcmHistory history{};
  for (size_t k = 0; k < s.blockCount(); ++k) {
    size_t count = s.realSamples(k);
    Samples x = s.paddedInput(k);
    Samples found(count);
    AdpcmHistory before = history;
    orbelDecodeBlock({s.block(k), s.blockBytes}, found, history);
    Bytes written(s.blockBytes, 0);
    AdpcmHistory end = before;
    orbelEncodeBlock(x, written, count, end);
    Samples greedy(count);
    orbelDecodeBlock(written, greedy, before);
    errors.push_back({squaredError(found.data(), x.data(), count), squaredError(greedy.data(), x.data(), count), true,
                      sameBytes(s.block(k), written, orbelCodedBytes(count))});
    decoded.insert(decoded.end(), found.begin(), found.end());
  }
  return errors;
}

// Orbel ADPCM-N64: blocks stand alone; a written block whose step index
// would pass 88 is no floor (the test's own restatement of the written
// encoder says so).
std::vector<BlockErrors> checkN64(const BlockStream& s, Samples& decoded) {
  std::vector<BlockErrors> errors;
  for (size_t k = 0; k < s.blockCount(); ++k) {
    Samples x = s.paddedInput(k);
    Samples found(s.samplesPerBlock);
    uint32_t clamps = 0;
    qx_n64_decode_block(s.block(k), s.blockBytes, found.data(), found.size(), &clamps);
    EXPECT_EQ(clamps, 0u) << "block " << k;
    ReferenceStream written = referenceN64Encode(x, s.blockBytes);
    errors.push_back({squaredError(found.data(), x.data(), x.size()),
                      squaredError(written.reconstruction.data(), x.data(), x.size()), written.keptWarnings == 0,
                      sameBytes(s.block(k), written.bytes, s.blockBytes)});
    decoded.insert(decoded.end(), found.begin(), found.begin() + static_cast<ptrdiff_t>(s.realSamples(k)));
  }
  return errors;
}

// IMA ADPCM: the written block starts from the index the search's previous
// block ended with.
std::vector<BlockErrors> checkIma(const BlockStream& s, Samples& decoded) {
  std::vector<BlockErrors> errors;
  int8_t reached = 0;
  // Decodes a block; returns the step index its codes end with.
  auto decode = [&](const uint8_t* block, Samples& out) {
    qx_ima_decode_block(block, s.blockBytes, out.data(), out.size());
    int32_t index = block[2];
    for (size_t i = 1; i < out.size(); ++i) {
      index = qx_ima_next_index(index, block[kImaHeaderBytes + (i - 1) / 2] >> (i % 2 == 0 ? 4 : 0) & 15);
    }
    return static_cast<int8_t>(index);
  };
  for (size_t k = 0; k < s.blockCount(); ++k) {
    Samples x = s.paddedInput(k);
    Bytes written(s.blockBytes);
    ImaState state{0, reached, 0};
    imaEncodeBlock(x, written, state);
    Samples found(x.size());
    Samples greedy(x.size());
    reached = decode(s.block(k), found);
    decode(written.data(), greedy);
    size_t count = s.realSamples(k);
    errors.push_back({squaredError(found.data(), x.data(), count), squaredError(greedy.data(), x.data(), count), true,
                      sameBytes(s.block(k), written, s.blockBytes)});
    decoded.insert(decoded.end(), found.begin(), found.begin() + static_cast<ptrdiff_t>(count));
  }
  return errors;
}

// Whether a Microsoft ADPCM block's step stays within the 16 bits that
// libsndfile holds it in (the test's own statement of the step rule).
bool msStepFits16Bits(const uint8_t* block, size_t count) {
  const int64_t factors[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
  int64_t delta = static_cast<int16_t>(block[1] | block[2] << 8);
  for (size_t k = 2; k < count; ++k) {
    uint8_t byte = block[7 + (k - 2) / 2];
    delta = std::max<int64_t>(16, delta * factors[k % 2 == 0 ? byte >> 4 : byte & 15] / 256);
    if (delta > 32767) return false;
  }
  return true;
}

// Microsoft ADPCM: blocks stand alone; the last one codes its real samples.
// A written block whose step passes 16 bits is no floor, and no -q block's
// step may.
std::vector<BlockErrors> checkMs(const BlockStream& s, Samples& decoded) {
  std::vector<BlockErrors> errors;
  for (size_t k = 0; k < s.blockCount(); ++k) {
    size_t count = s.realSamples(k);
    Samples x = s.paddedInput(k);
    Samples found(count);
    msAdpcmDecodeBlock({s.block(k), s.blockBytes}, found);
    Bytes written(s.blockBytes, 0);
    msAdpcmEncodeBlock(std::span<const int16_t>(x).first(count), written);
    Samples greedy(count);
    msAdpcmDecodeBlock(written, greedy);
    EXPECT_TRUE(msStepFits16Bits(s.block(k), count)) << "block " << k;
    errors.push_back({squaredError(found.data(), x.data(), count), squaredError(greedy.data(), x.data(), count),
                      msStepFits16Bits(written.data(), count), sameBytes(s.block(k), written, s.blockBytes)});
    decoded.insert(decoded.end(), found.begin(), found.end());
  }
  return errors;
}

double snrOf(const Samples& input, uint64_t noise) {
  uint64_t signal = 0;
  for (int16_t x : input) signal += static_cast<uint64_t>(int64_t{x} * x);
  return noise == 0 ? 999.0 : 10 * std::log10(static_cast<double>(signal) / static_cast<double>(noise));
}

struct SearchCase {
  const char* codec;  // the -c option
  int blockSize;      // 0: the codec's default
  Material material;
  BlockCheck check;
  bool peersDecode;  // sox and libsndfile know the format
  double snrFloor;   // dB, just below what -q reaches today
};

void PrintTo(const SearchCase& c, std::ostream* out) {
  *out << c.codec << " -b" << c.blockSize << " " << materialName(c.material);
}

class SearchEncoder : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchEncoder, SameBytesOrdinaryStreamNoBlockWorse) {
  const SearchCase& c = GetParam();
  ScratchDir dir;
  Samples input = makeSignal(c.material);
  writeFileBytes(dir.file("in.wav"), monoPcmWave(input, kRate));
  std::vector<std::string> args{"-q", c.codec};
  if (c.blockSize != 0) args.push_back("-b" + std::to_string(c.blockSize));
  args.push_back("../in.wav");
  for (const char* run : {"first", "second", "decoded"}) std::filesystem::create_directory(dir.file(run));
  for (const char* run : {"first", "second"}) {
    CliResult result = runQuarlixIn(dir.file(run), args);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output.find("Warning"), std::string::npos) << result.output;
    EXPECT_TRUE(result.errors.empty());
  }
  EXPECT_EQ(readFileBytes(dir.file("first/in.wav")), readFileBytes(dir.file("second/in.wav")));
  CliResult decoding = runQuarlixIn(dir.file("decoded"), {"-d", "../first/in.wav"});
  ASSERT_EQ(decoding.status, 0) << decoding.output;
  EXPECT_EQ(decoding.output.find("Warning"), std::string::npos) << decoding.output;
  Samples byQuarlix = pcmSamplesOf(dir.file("decoded/in.wav"));
  ASSERT_EQ(byQuarlix.size(), input.size());

  // The stream block by block: what the format's own decoder makes of it,
  // against the written encoder from the same states.
  Bytes file = readFileBytes(dir.file("first/in.wav"));
  Bytes fmt = chunkContents(file, "fmt ");
  Bytes data = chunkContents(file, "data");
  ASSERT_GE(fmt.size(), 20u);
  BlockStream stream{data, static_cast<size_t>(fmt[12] | fmt[13] << 8), static_cast<size_t>(fmt[18] | fmt[19] << 8),
                     input};
  Samples decoded;
  std::vector<BlockErrors> blocks = c.check(stream, decoded);
  decoded.resize(input.size());
  EXPECT_EQ(decoded, byQuarlix);
  // Blocks whose written form leaves the format's range set no floor.
  uint64_t searchTotal = 0, writtenTotal = 0;
  size_t floors = 0;
  for (size_t k = 0; k < blocks.size(); ++k) {
    if (!blocks[k].writtenIsFloor) continue;
    EXPECT_LE(blocks[k].search, blocks[k].written) << "block " << k;
    if (!blocks[k].sameAsWritten) {
      EXPECT_LT(blocks[k].search, blocks[k].written) << "block " << k;
    }
    floors += 1;
    searchTotal += blocks[k].search;
    writtenTotal += blocks[k].written;
  }
  if (c.material == Material::FullScale) {
    EXPECT_LT(floors, blocks.size()) << "some written blocks leave the format's range";
  } else {
    EXPECT_LT(searchTotal, writtenTotal);
  }
  EXPECT_GE(snrOf(input, squaredError(decoded.data(), input.data(), input.size())), c.snrFloor);

  if (c.peersDecode) {
    Samples bySox, bySndfile;
    peerDecode(dir, "first/in.wav", bySox, bySndfile);
    expectSameSamples(byQuarlix, bySox, "sox");
    expectSameSamples(byQuarlix, bySndfile, "libsndfile");
  }
}

// N64 beams are widest for the noisiest fifth of the blocks and narrowest
// for the quietest half; equal noise ranks the earlier block first, and a
// lone block is searched widest.
TEST(N64SearchWidths, NoisiestFifthWidestQuietestHalfNarrowest) {
  struct Case {
    std::vector<uint64_t> noise;
    std::vector<uint64_t> widths;
  };
  const Case cases[] = {
      {{7}, {128}},
      {{4, 9}, {16, 128}},
      {{5, 5, 5, 5, 5, 5, 5, 5, 5, 5}, {128, 128, 32, 32, 32, 16, 16, 16, 16, 16}},
      {{1, 9, 3, 7, UINT64_MAX, 0, 9}, {16, 128, 16, 32, 128, 16, 32}},
  };
  for (const Case& c : cases) {
    std::vector<N64BlockSearch> blocks;
    for (uint64_t noise : c.noise) blocks.push_back({noise, 0});
    std::vector<uint32_t> order(blocks.size());
    orbelN64ChooseWidths(blocks, order);
    std::vector<uint64_t> widths;
    for (const N64BlockSearch& block : blocks) widths.push_back(block.width);
    EXPECT_EQ(widths, c.widths) << "blocks: " << c.noise.size();
  }
}

std::string searchName(const ::testing::TestParamInfo<SearchCase>& info) {
  const SearchCase& c = info.param;
  return std::string(c.codec + 2) + "_b" + std::to_string(c.blockSize) + "_" + materialName(c.material);
}

// Full-scale random signs drive the written N64 encoder's step index past
// 88 in 16-byte blocks, and the written Microsoft ADPCM step past 16 bits,
// which the search must never do.
INSTANTIATE_TEST_SUITE_P(
    Formats, SearchEncoder,
    ::testing::Values(SearchCase{"-cadpcm", 0, Material::Speech, checkOrbel, false, 39.73},
                      SearchCase{"-cadpcm", 17, Material::Chirp, checkOrbel, false, 22.75},
                      SearchCase{"-cadpcm", 1024, Material::Speech, checkOrbel, false, 38.29},
                      SearchCase{"-cadpcmn64", 0, Material::Speech, checkN64, false, 39.14},
                      SearchCase{"-cadpcmn64", 16, Material::FullScale, checkN64, false, 28.53},
                      SearchCase{"-cadpcmima", 0, Material::Speech, checkIma, true, 38.98},
                      SearchCase{"-cadpcmima", 64, Material::Chirp, checkIma, true, 19.62},
                      SearchCase{"-cadpcmms", 0, Material::Speech, checkMs, true, 38.36},
                      SearchCase{"-cadpcmms", 16, Material::Chirp, checkMs, true, 23.55},
                      SearchCase{"-cadpcmms", 16, Material::FullScale, checkMs, true, 43.93}),
    searchName);

// Short signals where the header search decides most: a loud onset after a
// few silent samples, clicks in silence, digital silence, full-scale noise,
// a sine at amplitude 16, full-scale steps, and bursts of loud noise with
// silence between them, one IMA block (505 samples) each, so that a silent
// block follows a loud one and needs the smallest step at once; and noise
// in the lowest bit, as a fade's dither, where different blocks often
// decode equally well; a soft chirp and soft noise.
enum class Short { Onset, Clicks, Silence, Noise, QuietSine, Steps, Bursts, Dither, SoftChirp, SoftNoise };

Samples makeShort(Short signal) {
  constexpr size_t kCount = 3000;
  switch (signal) {
    case Short::Onset: {
      Samples loud = linearChirp(kCount - 40, kRate, 300, 2500, 26000);
      Samples x(40, 0);
      x.insert(x.end(), loud.begin(), loud.end());
      return x;
    }
    case Short::Clicks: return silenceWithClicks(kCount, 700, 30000);
    case Short::Silence: return silence(kCount);
    case Short::Noise: return whiteNoise(kCount, 32767, 11);
    case Short::QuietSine: return linearChirp(kCount, kRate, 440, 440, 16);
    case Short::Steps: return fullScaleSquare(kCount, 300);
    case Short::Bursts: {
      Samples x = whiteNoise(kCount, 20000, 5);
      for (size_t i = 0; i < kCount; ++i) x[i] = (i / 505) % 2 == 0 ? x[i] : 0;
      return x;
    }
    case Short::Dither: return whiteNoise(kCount, 1, 9);
    case Short::SoftChirp: return linearChirp(kCount, kRate, 100, 2500, 200);
    case Short::SoftNoise: return whiteNoise(kCount, 1500, 18);
  }
  return {};
}

const char* shortName(Short signal) {
  switch (signal) {
    case Short::Onset: return "Onset";
    case Short::Clicks: return "Clicks";
    case Short::Silence: return "Silence";
    case Short::Noise: return "Noise";
    case Short::QuietSine: return "QuietSine";
    case Short::Steps: return "Steps";
    case Short::Bursts: return "Bursts";
    case Short::Dither: return "Dither";
    case Short::SoftChirp: return "SoftChirp";
    case Short::SoftNoise: return "SoftNoise";
  }
  return "";
}

// Whether every block header holds fields its format allows: IMA an index
// of 0 to 88 and a zero byte; Microsoft ADPCM a standard pair and a first
// step of 16 to 32767; Orbel ADPCM a set of 0 to 6 and a step of at least 8;
// N64 an index of 0 to 88 (its set, two bits, cannot leave its range).
bool headersInRange(const char* codec, const BlockStream& s) {
  std::string name = codec;
  for (size_t k = 0; k < s.blockCount(); ++k) {
    const uint8_t* b = s.block(k);
    bool fits = true;
    if (name == "-cadpcmima") fits = b[2] <= QX_IMA_MAX_INDEX && b[3] == 0;
    if (name == "-cadpcmms") {
      int32_t delta = static_cast<int16_t>(b[1] | b[2] << 8);
      fits = b[0] < 7 && delta >= 16 && delta <= 32767;
    }
    if (name == "-cadpcm") fits = (b[0] & 7) < 7 && (b[0] | b[1] << 8) >= 8;
    if (name == "-cadpcmn64") fits = b[4] <= QX_IMA_MAX_INDEX;
    if (!fits) {
      ADD_FAILURE() << "block " << k << " header out of range";
      return false;
    }
  }
  return true;
}

struct PromiseCase {
  const char* codec;
  Short signal;
  BlockCheck check;
  double snrFloor;  // dB, just below what -q reaches today; 0 for silence
};

void PrintTo(const PromiseCase& c, std::ostream* out) { *out << c.codec << " " << shortName(c.signal); }

class SearchPromises : public ::testing::TestWithParam<PromiseCase> {};

// Every block is the written encoder's from the same state unless strictly
// better (so silence gives the written bytes), every header field stays in
// its format's range, the whole file decodes at least as well as the
// written encoder's file, and the SNR holds its floor: losing a part of
// the search fails here.
TEST_P(SearchPromises, WrittenUnlessBetterHeadersInRangeSnrFloor) {
  const PromiseCase& c = GetParam();
  ScratchDir dir;
  Samples input = makeShort(c.signal);
  writeFileBytes(dir.file("in.wav"), monoPcmWave(input, kRate));
  std::vector<Bytes> files;
  std::vector<Samples> decodings;
  for (bool search : {true, false}) {
    std::string run = search ? "search" : "written";
    std::filesystem::create_directory(dir.file(run));
    std::filesystem::create_directory(dir.file(run + "/decoded"));
    std::vector<std::string> args{c.codec, "../in.wav"};
    if (search) args.insert(args.begin(), "-q");
    CliResult result = runQuarlixIn(dir.file(run), args);
    ASSERT_EQ(result.status, 0) << result.output;
    CliResult decoding = runQuarlixIn(dir.file(run + "/decoded"), {"-d", "../in.wav"});
    ASSERT_EQ(decoding.status, 0) << decoding.output;
    files.push_back(readFileBytes(dir.file(run + "/in.wav")));
    decodings.push_back(pcmSamplesOf(dir.file(run + "/decoded/in.wav")));
    ASSERT_EQ(decodings.back().size(), input.size());
  }
  Bytes fmt = chunkContents(files[0], "fmt ");
  Bytes data = chunkContents(files[0], "data");
  BlockStream stream{data, static_cast<size_t>(fmt[12] | fmt[13] << 8), static_cast<size_t>(fmt[18] | fmt[19] << 8),
                     input};
  Samples decoded;
  std::vector<BlockErrors> blocks = c.check(stream, decoded);
  for (size_t k = 0; k < blocks.size(); ++k) {
    if (blocks[k].writtenIsFloor && !blocks[k].sameAsWritten) {
      EXPECT_LT(blocks[k].search, blocks[k].written) << "block " << k;
    }
    // A silent block decodes exactly wherever its header can say so (Orbel
    // ADPCM's history may not let it).
    Samples x = stream.paddedInput(k);
    if (std::string(c.codec) != "-cadpcm" && std::all_of(x.begin(), x.end(), [](int16_t v) { return v == 0; })) {
      EXPECT_EQ(blocks[k].search, 0u) << "silent block " << k;
    }
  }
  EXPECT_TRUE(headersInRange(c.codec, stream));
  uint64_t searchError = squaredError(decodings[0].data(), input.data(), input.size());
  uint64_t writtenError = squaredError(decodings[1].data(), input.data(), input.size());
  EXPECT_LE(searchError, writtenError);
  if (c.signal == Short::Silence) EXPECT_EQ(files[0], files[1]);
  else EXPECT_GE(snrOf(input, searchError), c.snrFloor) << "written: " << snrOf(input, writtenError);
}

std::string promiseName(const ::testing::TestParamInfo<PromiseCase>& info) {
  return std::string(info.param.codec + 2) + "_" + shortName(info.param.signal);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SearchPromises,
    ::testing::Values(PromiseCase{"-cadpcm", Short::Onset, checkOrbel, 40.97}, PromiseCase{"-cadpcm", Short::Clicks, checkOrbel, 3.27},
                      PromiseCase{"-cadpcm", Short::Silence, checkOrbel, 0}, PromiseCase{"-cadpcm", Short::Noise, checkOrbel, 20.06},
                      PromiseCase{"-cadpcm", Short::QuietSine, checkOrbel, 14.46}, PromiseCase{"-cadpcm", Short::Steps, checkOrbel, 900},
                      PromiseCase{"-cadpcm", Short::Bursts, checkOrbel, 19.00},
                      PromiseCase{"-cadpcm", Short::Dither, checkOrbel, -0.01},
                      PromiseCase{"-cadpcmn64", Short::Onset, checkN64, 33.46}, PromiseCase{"-cadpcmn64", Short::Clicks, checkN64, 2.91},
                      PromiseCase{"-cadpcmn64", Short::Silence, checkN64, 0}, PromiseCase{"-cadpcmn64", Short::Noise, checkN64, 20.15},
                      PromiseCase{"-cadpcmn64", Short::QuietSine, checkN64, 15.85}, PromiseCase{"-cadpcmn64", Short::Steps, checkN64, 85.37},
                      PromiseCase{"-cadpcmn64", Short::Bursts, checkN64, 17.11},
                      PromiseCase{"-cadpcmn64", Short::Dither, checkN64, -0.01},
                      // N64's header search: a third coefficient set wins
                      // the chirp, and the top of each set's index window
                      // a block of the noise (by a thousandth of a dB).
                      PromiseCase{"-cadpcmn64", Short::SoftChirp, checkN64, 33.11},
                      PromiseCase{"-cadpcmn64", Short::SoftNoise, checkN64, 19.886},
                      PromiseCase{"-cadpcmima", Short::Onset, checkIma, 29.18}, PromiseCase{"-cadpcmima", Short::Clicks, checkIma, 1.27},
                      PromiseCase{"-cadpcmima", Short::Silence, checkIma, 0}, PromiseCase{"-cadpcmima", Short::Noise, checkIma, 19.21},
                      PromiseCase{"-cadpcmima", Short::QuietSine, checkIma, 26.93}, PromiseCase{"-cadpcmima", Short::Steps, checkIma, 11.72},
                      PromiseCase{"-cadpcmima", Short::Bursts, checkIma, 17.58},
                      PromiseCase{"-cadpcmima", Short::Dither, checkIma, 6.93},
                      PromiseCase{"-cadpcmms", Short::Onset, checkMs, 40.06}, PromiseCase{"-cadpcmms", Short::Clicks, checkMs, 0.35},
                      PromiseCase{"-cadpcmms", Short::Silence, checkMs, 0}, PromiseCase{"-cadpcmms", Short::Noise, checkMs, 19.79},
                      PromiseCase{"-cadpcmms", Short::QuietSine, checkMs, 8.56}, PromiseCase{"-cadpcmms", Short::Steps, checkMs, 900},
                      PromiseCase{"-cadpcmms", Short::Bursts, checkMs, 17.72},
                      PromiseCase{"-cadpcmms", Short::Dither, checkMs, -1.18}),
    promiseName);

// In process: the state each block of the IMA and Orbel searches hands on
// to the next block is the one its own decoding ends with (the step index;
// the history and the step), and IMA's written stream runs on as the
// written encoder's own.
TEST(SearchHandsOn, EachBlockHandsOnTheStateItsDecodingEndsWith) {
  HeapBlock work;
  ASSERT_TRUE(work.allocate(kBeamWidestTrace));
  for (Short signal : {Short::Onset, Short::Clicks, Short::Noise, Short::Steps}) {
    SCOPED_TRACE(shortName(signal));
    Samples input = makeShort(signal);
    constexpr size_t kImaBytes = 64;
    constexpr size_t kImaSamples = 2 * kImaBytes - 7;
    ImaState state{};
    int8_t writtenIndex = 0;
    ImaState writtenStream{};
    // The last block is partial: silence completes it, and it hands on
    // the index its whole decoding ends with.
    for (size_t at = 0; at < input.size(); at += kImaSamples) {
      size_t count = std::min(kImaSamples, input.size() - at);
      Samples x(kImaSamples, 0);
      std::copy_n(input.begin() + static_cast<ptrdiff_t>(at), count, x.begin());
      Bytes block(kImaBytes);
      imaSearchBlock(x, count, block, state, writtenIndex, work);
      int32_t index = block[2];
      for (size_t i = 1; i < kImaSamples; ++i) {
        index = qx_ima_next_index(index, block[kImaHeaderBytes + (i - 1) / 2] >> (i % 2 == 0 ? 4 : 0) & 15);
      }
      EXPECT_EQ(state.stepIndex, index) << "IMA block at " << at;
      Bytes written(kImaBytes);
      imaEncodeBlock(x, written, writtenStream);
      EXPECT_EQ(writtenIndex, writtenStream.stepIndex) << "IMA block at " << at;
    }
    constexpr size_t kOrbelBytes = 32;
    constexpr size_t kOrbelSamples = orbelSamplesPerBlock(kOrbelBytes);
    OrbelSearchState orbel;
    for (size_t at = 0; at + kOrbelSamples <= input.size(); at += kOrbelSamples) {
      std::span<const int16_t> x(input.data() + at, kOrbelSamples);
      Bytes block(kOrbelBytes);
      AdpcmHistory history = orbel.history;
      orbelSearchBlock(x, block, kOrbelSamples, orbel, work);
      Samples decoded(kOrbelSamples);
      orbelDecodeBlock(block, decoded, history);
      EXPECT_EQ(orbel.history.sample1, history.sample1) << "Orbel block at " << at;
      EXPECT_EQ(orbel.history.sample2, history.sample2) << "Orbel block at " << at;
      int32_t step = (block[0] | block[1] << 8) & 0xFFF8;
      for (size_t i = 0; i < kOrbelSamples; ++i) {
        step = qx_orbel_next_step(step, qx_signed_code(i % 2 == 0 ? block[2 + i / 2] >> 4 : block[2 + i / 2] & 15));
      }
      EXPECT_EQ(orbel.step, step) << "Orbel block at " << at;
    }
  }
}

}  // namespace
