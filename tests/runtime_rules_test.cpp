// The codec rules that exist twice on purpose: the lane forms of the tool's
// encoders and decoders against the shared scalar rules over their whole
// input domains, the tool's lane decoders against the library's block
// decoders, and the decoder library's host fast paths (QX_FAST, as the tool
// builds it) against its compact form, compiled here from the same source
// as C++.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <algorithm>
#include <vector>

#include "codecs/ima_adpcm.h"
#include "codecs/lane_decoding.h"
#include "codecs/lane_vectors.h"
#include "codecs/ms_adpcm.h"
#include "codecs/orbel_adpcm.h"
#include "codecs/orbel_adpcm_n64.h"
#include "codecs/orbel_quantiser.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

// The library exactly as a device gets it: no QX_FAST here.
namespace compact {
#include "quarlix_decode.c"
}  // namespace compact

namespace {

using Inputs = std::vector<std::pair<int32_t, int32_t>>;

struct LaneRule {
  const char* name;
  Inputs domain;
  std::function<Lanes(Lanes, Lanes)> lanes;
  std::function<int32_t(int32_t, int32_t)> scalar;
};

Inputs product(int32_t firstLow, int32_t firstHigh, int32_t secondLow, int32_t secondHigh) {
  Inputs out;
  for (int32_t a = firstLow; a <= firstHigh; ++a) {
    for (int32_t b = secondLow; b <= secondHigh; ++b) out.emplace_back(a, b);
  }
  return out;
}

// Every step an encoder can use: the IMA table, every integer up to 65535
// (Orbel ADPCM's encoder stays below), and beyond up to the ceiling.
std::vector<int32_t> encoderSteps() {
  std::vector<int32_t> steps(qx_ima_step_table, qx_ima_step_table + QX_IMA_MAX_INDEX + 1);
  for (int32_t step = 8; step < 65536; ++step) steps.push_back(step);
  for (int32_t step = 65536; step <= QX_ORBEL_STEP_CEILING; step += step / 7) steps.push_back(step);
  return steps;
}

// For every step, the differences where a quantiser's code changes (every
// multiple of step / parts up to `multiples` of them) and their
// neighbours, of both signs, up to the largest a prediction leaves
// (32768 + 98302).
Inputs codeBoundaries(const std::vector<int32_t>& steps, int32_t parts, int32_t multiples) {
  Inputs out;
  for (int32_t step : steps) {
    for (int32_t multiple = 0; multiple <= multiples; ++multiple) {
      for (int32_t offset : {-1, 0, 1}) {
        int64_t magnitude = int64_t{multiple} * step / parts + offset;
        if (magnitude < 0 || magnitude > 131070) continue;
        out.emplace_back(static_cast<int32_t>(magnitude), step);
        out.emplace_back(static_cast<int32_t>(-magnitude), step);
      }
    }
    out.emplace_back(131070, step);
    out.emplace_back(-131070, step);
  }
  return out;
}

// The nearest code changes at odd multiples of half the step.
Inputs quantiserDomain() { return codeBoundaries(encoderSteps(), 2, 17); }

// Every delta a Microsoft ADPCM encoder reaches (up to 98301) and beyond
// to 2^21; its truncated code changes at whole multiples of it.
Inputs msCodeDomain() {
  std::vector<int32_t> deltas;
  for (int32_t delta = 16; delta <= (1 << 21); delta += delta < 131072 ? 1 : delta / 97) deltas.push_back(delta);
  return codeBoundaries(deltas, 1, 9);
}

// Every delta a Microsoft ADPCM block can hold or reach: each one up to
// 2^17, then the neighbours of every 256th beyond it, up to the ceiling.
Inputs msDeltaDomain() {
  Inputs out;
  for (int32_t code = -8; code <= 7; ++code) {
    for (int32_t delta = -32768; delta <= 131072; ++delta) out.emplace_back(delta, code);
    for (int32_t delta = 131072; delta <= QX_MS_MAX_DELTA; delta += delta / 64 & ~255) {
      for (int32_t offset : {-1, 0, 1, 255}) out.emplace_back(std::min(delta + offset, QX_MS_MAX_DELTA), code);
    }
  }
  return out;
}

Inputs orbelStepDomain() {
  Inputs out;
  for (int32_t step : encoderSteps()) {
    for (int32_t code = -8; code <= 7; ++code) out.emplace_back(step, code);
  }
  return out;
}

// Samples over the whole 16-bit range: both ends, the values around zero and
// every 257th between.
std::vector<int32_t> sampleGrid() {
  std::vector<int32_t> values{-32768, -32767, -1, 0, 1, 32766, 32767};
  for (int32_t v = -32768 + 129; v < 32767; v += 257) values.push_back(v);
  return values;
}

// What a decoder clamps to 16 bits: a prediction (at most 98302 from zero)
// plus a step times a code (up to 8 times Orbel ADPCM's ceiling), densely
// around the 16-bit ends.
Inputs unclampedSamples() {
  Inputs out;
  const int32_t reach = 98302 + 8 * QX_ORBEL_STEP_CEILING;
  for (int32_t v = -reach; v <= reach; v += 97) out.emplace_back(v, 0);
  for (int32_t v = -33000; v <= 33000; ++v) out.emplace_back(v, 0);
  out.emplace_back(-reach, 0);
  out.emplace_back(reach, 0);
  return out;
}

TEST(CodecRules, LaneFormsFollowTheScalarRules) {
  std::vector<int32_t> grid = sampleGrid();
  Inputs samplePairs;
  for (int32_t newer : grid) {
    for (int32_t older : grid) samplePairs.emplace_back(newer, older);
  }
  std::vector<LaneRule> rules = {
      {"adaptation factor by code", product(-8, 7, 0, 0), [](Lanes code, Lanes) { return adaptationFactor(code); },
       [](int32_t code, int32_t) { return int32_t{qx_adaptation_factor[code & 15]}; }},
      {"Microsoft ADPCM delta", msDeltaDomain(), [](Lanes delta, Lanes code) { return msNextDeltaLanes(delta, code); },
       [](int32_t delta, int32_t code) { return qx_ms_next_delta(delta, code); }},
      {"IMA step index", product(0, QX_IMA_MAX_INDEX, 0, 15),
       [](Lanes index, Lanes nibble) { return imaNextIndexLanes(index, nibble); },
       [](int32_t index, int32_t nibble) { return qx_ima_next_index(index, static_cast<uint32_t>(nibble)); }},
      {"Orbel ADPCM step", orbelStepDomain(), [](Lanes step, Lanes code) { return orbelNextStepLanes(step, code); },
       [](int32_t step, int32_t code) { return qx_orbel_next_step(step, code); }},
      // The N64 index with its clamp count folded in: 1000 for a clamp.
      {"N64 step index", product(0, QX_IMA_MAX_INDEX, -8, 7),
       [](Lanes index, Lanes code) {
         LaneMask passed;
         Lanes next = n64NextIndexLanes(index, code, passed);
         return next + (passed & 1000);
       },
       [](int32_t index, int32_t code) {
         uint32_t clamps = 0;
         int32_t next = qx_n64_next_index(index, static_cast<uint32_t>(code), &clamps);
         return next + 1000 * static_cast<int32_t>(clamps);
       }},
      {"Orbel code by comparisons", quantiserDomain(),
       [](Lanes difference, Lanes step) { return orbelCodeLanes(difference, step).code; },
       [](int32_t difference, int32_t step) { return orbelQuantise(difference, step); }},
      {"16-bit sample clamp", unclampedSamples(), [](Lanes value, Lanes) { return clamp16Lanes(value); },
       [](int32_t value, int32_t) { return qx_clamp16(value); }},
      // Every step of the table with every code.
      {"IMA difference",
       [] {
         Inputs out;
         for (int16_t step : qx_ima_step_table) {
           for (int32_t code = 0; code < 16; ++code) out.emplace_back(step, code);
         }
         return out;
       }(),
       [](Lanes step, Lanes code) { return imaDifferenceLanes(step, code); },
       [](int32_t step, int32_t code) { return qx_ima_difference(step, static_cast<uint32_t>(code)); }},
      {"Orbel factor by comparisons", quantiserDomain(),
       [](Lanes difference, Lanes step) { return orbelCodeLanes(difference, step).factor; },
       [](int32_t difference, int32_t step) { return int32_t{qx_adaptation_factor[orbelQuantise(difference, step) & 15]}; }},
      {"Orbel quantiser in single precision", quantiserDomain(),
       [](Lanes difference, Lanes step) { return orbelNearestCodeLanes(difference, step); },
       [](int32_t difference, int32_t step) { return orbelQuantise(difference, step); }},
      // The Microsoft ADPCM encoder's code: the quotient truncated toward
      // zero, limited to -8..7.
      {"Microsoft ADPCM code", msCodeDomain(),
       [](Lanes difference, Lanes delta) { return msAdpcmCodeLanes(difference, delta); },
       [](int32_t difference, int32_t delta) { return std::clamp(difference / delta, -8, 7); }},
  };
  // The prediction of every coefficient pair the formats have.
  std::vector<const int16_t*> pairs;
  for (const int16_t* pair : qx_adpcm_pairs) pairs.push_back(pair);
  for (const int16_t* pair : qx_n64_pairs) pairs.push_back(pair);
  for (const int16_t* pair : pairs) {
    int32_t c1 = pair[0], c2 = pair[1];
    rules.push_back({"prediction", samplePairs,
                     [=](Lanes s1, Lanes s2) { return predictLanes(splat(c1), splat(c2), s1, s2); },
                     [=](int32_t s1, int32_t s2) { return qx_predict(c1, c2, s1, s2); }});
  }
  for (const LaneRule& rule : rules) {
    size_t mismatches = 0;
    for (size_t at = 0; at < rule.domain.size(); at += kLaneCount) {
      Lanes a = splat(0), b = splat(1);
      size_t filled = std::min(kLaneCount, rule.domain.size() - at);
      for (size_t lane = 0; lane < filled; ++lane) {
        a[lane] = rule.domain[at + lane].first;
        b[lane] = rule.domain[at + lane].second;
      }
      Lanes got = rule.lanes(a, b);
      for (size_t lane = 0; lane < filled; ++lane) {
        int32_t want = rule.scalar(a[lane], b[lane]);
        if (got[lane] != want && mismatches++ < 5) {
          ADD_FAILURE() << rule.name << " (" << a[lane] << ", " << b[lane] << "): lanes " << got[lane] << ", rule "
                        << want;
        }
      }
    }
    EXPECT_EQ(mismatches, 0u) << rule.name << " over " << rule.domain.size() << " inputs";
  }
}

// The tool decodes IMA ADPCM, Microsoft ADPCM and N64 several blocks at a
// time; block by block, the library must give the same samples and clamps,
// on blocks of any bytes (damaged headers, runaway steps) and any geometry.
TEST(CodecRules, LaneDecodersGiveTheLibrarysSamples) {
  struct Format {
    const char* name;
    size_t headerBytes;
    size_t heldSamples;
    uint32_t (*lanes)(std::span<const uint8_t>, size_t, size_t, std::span<int16_t>);
    uint32_t (*library)(const uint8_t*, size_t, int16_t*, size_t);
  };
  const Format formats[] = {
      {"IMA ADPCM", 4, 1,
       [](std::span<const uint8_t> blocks, size_t bytes, size_t perBlock, std::span<int16_t> out) {
         decodeImaBlocks(blocks, bytes, perBlock, out);
         return 0u;
       },
       withoutClamps<qx_ima_decode_block>},
      {"Microsoft ADPCM", 7, 2,
       [](std::span<const uint8_t> blocks, size_t bytes, size_t perBlock, std::span<int16_t> out) {
         decodeMsAdpcmBlocks(blocks, bytes, perBlock, out);
         return 0u;
       },
       withoutClamps<qx_ms_decode_block>},
      {"Orbel ADPCM-N64", 5, 2, decodeOrbelN64Blocks,
       [](const uint8_t* block, size_t bytes, int16_t* out, size_t count) {
         uint32_t clamps = 0;
         qx_n64_decode_block(block, bytes, out, count, &clamps);
         return clamps;
       }},
  };
  NoiseSource noise{77};
  for (const Format& format : formats) {
    for (size_t blockBytes : {size_t{8}, size_t{16}, size_t{17}, size_t{100}, size_t{256}, size_t{1024}}) {
      size_t capacity = 2 * (blockBytes - format.headerBytes) + format.heldSamples;
      // Whole lane groups, a group and a few blocks, a partial last block,
      // fewer samples than a block holds, and shorter blocks than they hold.
      for (size_t perBlock : {capacity, capacity - 1, size_t{3}}) {
        for (size_t samples : {16 * perBlock, 19 * perBlock - 2, perBlock / 2 + 1}) {
          size_t blocks = (samples + perBlock - 1) / perBlock;
          Bytes data(blocks * blockBytes);
          for (uint8_t& byte : data) byte = static_cast<uint8_t>(noise.next() >> 24);
          std::vector<int16_t> got(samples, 12345), want(samples, 12345);
          uint32_t gotClamps = format.lanes(data, blockBytes, perBlock, got);
          uint32_t wantClamps = 0;
          for (size_t b = 0; b < blocks; ++b) {
            size_t count = std::min(perBlock, samples - b * perBlock);
            wantClamps += format.library(&data[b * blockBytes], blockBytes, &want[b * perBlock], count);
          }
          std::string what = std::string(format.name) + ", " + std::to_string(blockBytes) + "-byte blocks of " +
                             std::to_string(perBlock) + ", " + std::to_string(samples) + " samples";
          ASSERT_EQ(got, want) << what;
          ASSERT_EQ(gotClamps, wantClamps) << what;
        }
      }
    }
  }
}

// The tool encodes IMA ADPCM, Microsoft ADPCM and N64 several blocks at a
// time, IMA ADPCM speculatively from guessed step indices; the bytes (and
// the N64 warnings) must be those of the encoders block by block, on
// signals that drive every step to its limits and swing from one block to
// the next, in blocks of every size class.
TEST(CodecRules, LaneEncodersGiveThePlainEncodersBytes) {
  struct Format {
    const char* name;
    size_t headerBytes;
    size_t heldSamples;
    std::vector<size_t> blockSizes;
    void (*blocks)(std::span<const int16_t>, size_t, std::span<uint8_t>, size_t);
    void (*block)(std::span<const int16_t>, std::span<uint8_t>, ImaState&);
  };
  const Format formats[] = {
      {"IMA ADPCM", 4, 1, {16, 17, 100, 256, 1024},
       [](std::span<const int16_t> in, size_t perBlock, std::span<uint8_t> out, size_t bytes) {
         ImaState state{0, 7, 0};
         imaEncodeBlocks(in, perBlock, out, bytes, state);
         out[out.size() - 1] = static_cast<uint8_t>(state.stepIndex);
       },
       [](std::span<const int16_t> in, std::span<uint8_t> out, ImaState& state) {
         state.predictor = in[0];
         out[0] = static_cast<uint8_t>(in[0]);
         out[1] = static_cast<uint8_t>(static_cast<uint16_t>(in[0]) >> 8);
         out[2] = static_cast<uint8_t>(state.stepIndex);
         out[3] = 0;
         imaEncode(in.subspan(1), out.subspan(4), state);
       }},
      {"Microsoft ADPCM", 7, 2, {16, 17, 100, 512, 1024},
       [](std::span<const int16_t> in, size_t perBlock, std::span<uint8_t> out, size_t bytes) {
         msAdpcmEncodeBlocks(in, perBlock, out.first(out.size() - 1), bytes);
       },
       [](std::span<const int16_t> in, std::span<uint8_t> out, ImaState&) { msAdpcmEncodeBlock(in, out); }},
      {"Orbel ADPCM-N64", 5, 2, {16, 17, 68, 100, 1024},
       [](std::span<const int16_t> in, size_t perBlock, std::span<uint8_t> out, size_t) {
         orbelN64EncodeBlocks(in, perBlock, out.first(out.size() - 1));
       },
       [](std::span<const int16_t> in, std::span<uint8_t> out, ImaState&) { orbelN64EncodeBlock(in, out); }},
  };
  for (const Format& format : formats) {
    for (size_t blockBytes : format.blockSizes) {
      size_t perBlock = 2 * (blockBytes - format.headerBytes) + format.heldSamples;
      // Enough blocks for runs of several blocks in every lane, and a few
      // over: loud blocks between silent ones move the step index far
      // from block to block.
      size_t count = 37 * perBlock;
      std::vector<Samples> signals = {whiteNoise(count, 32767, 11), fullScaleSquare(count, 1),
                                      fullScaleRandomSigns(count, 12), silenceWithClicks(count, 97, -32768),
                                      linearChirp(count, 44100, 20, 20000, 32000), speechLikeBursts(count, 22050, 13),
                                      silence(count)};
      Samples swings(count);
      NoiseSource noise{14};
      for (size_t i = 0; i < count; ++i) {
        bool loud = i / perBlock % 3 == 1 || i % perBlock > perBlock - perBlock / 4;
        swings[i] = loud ? static_cast<int16_t>(noise.next()) : static_cast<int16_t>(noise.next() % 9) - 4;
      }
      signals.push_back(swings);
      for (size_t s = 0; s < signals.size(); ++s) {
        // One byte beyond the blocks: the IMA step index left at the end.
        Bytes got(37 * blockBytes + 1, 0xAA), want(got.size(), 0xAA);
        testing::internal::CaptureStdout();
        format.blocks(signals[s], perBlock, got, blockBytes);
        std::string gotPrinted = testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        ImaState state{0, 7, 0};
        for (size_t b = 0; b < 37; ++b) {
          format.block(std::span<const int16_t>(signals[s]).subspan(b * perBlock, perBlock),
                       std::span(want).subspan(b * blockBytes, blockBytes), state);
        }
        if (format.headerBytes == 4) want.back() = static_cast<uint8_t>(state.stepIndex);
        std::string wantPrinted = testing::internal::GetCapturedStdout();
        std::string what = std::string(format.name) + ", " + std::to_string(blockBytes) + "-byte blocks, signal " +
                           std::to_string(s);
        ASSERT_EQ(got, want) << what;
        ASSERT_EQ(gotPrinted, wantPrinted) << what;
      }
    }
  }
}

// Decodes with the library as built (fast) and with the compact form; both
// must give the same samples, count, history and clamps.
void expectSameBlock(int format, const Bytes& block, size_t count, qx_orbel_history history,
                     const std::string& what) {
  std::vector<int16_t> fast(count + 1, 12345), slow(count + 1, 12345);
  qx_orbel_history fastHistory = history, slowHistory = history;
  uint32_t fastClamps = 0, slowClamps = 0;
  size_t fastCount = 0, slowCount = 0;
  switch (format) {
    case 0:
      fastCount = qx_ima_decode_block(block.data(), block.size(), fast.data(), count);
      slowCount = compact::qx_ima_decode_block(block.data(), block.size(), slow.data(), count);
      break;
    case 1:
      fastCount = qx_ms_decode_block(block.data(), block.size(), fast.data(), count);
      slowCount = compact::qx_ms_decode_block(block.data(), block.size(), slow.data(), count);
      break;
    case 2:
      fastCount = qx_orbel_decode_block(block.data(), block.size(), fast.data(), count, &fastHistory);
      slowCount = compact::qx_orbel_decode_block(block.data(), block.size(), slow.data(), count, &slowHistory);
      break;
    default:
      fastCount = qx_n64_decode_block(block.data(), block.size(), fast.data(), count, &fastClamps);
      slowCount = compact::qx_n64_decode_block(block.data(), block.size(), slow.data(), count, &slowClamps);
      break;
  }
  ASSERT_EQ(fastCount, slowCount) << what;
  ASSERT_EQ(fast, slow) << what;
  ASSERT_EQ(fastHistory.sample1, slowHistory.sample1) << what;
  ASSERT_EQ(fastHistory.sample2, slowHistory.sample2) << what;
  ASSERT_EQ(fastClamps, slowClamps) << what;
}

TEST(CodecRules, FastDecodingPathsGiveTheCompactFormsSamples) {
  // IMA's looked-up change for every step index and code, seen from both
  // ends of the range so that no sum saturates.
  for (uint8_t index = 0; index <= QX_IMA_MAX_INDEX; ++index) {
    for (uint8_t code = 0; code < 16; ++code) {
      uint8_t start = code < 8 ? 0x80 : 0x7F;  // -32768 or 32767, little-endian high byte
      Bytes block{static_cast<uint8_t>(code < 8 ? 0x00 : 0xFF), start, index, 0, code};
      expectSameBlock(0, block, 2, {}, "IMA index " + std::to_string(index) + " code " + std::to_string(code));
    }
  }
  // Whole blocks of every format: arbitrary bytes (damaged headers
  // included), sizes and counts, runs starting on odd and even codes.
  NoiseSource noise{2024};
  for (int round = 0; round < 4000; ++round) {
    int format = round % 4;
    Bytes block(noise.next() % 300);
    for (uint8_t& byte : block) byte = static_cast<uint8_t>(noise.next() >> 24);
    qx_orbel_history history{static_cast<int16_t>(noise.next()), static_cast<int16_t>(noise.next())};
    expectSameBlock(format, block, noise.next() % 700, history, "round " + std::to_string(round));
  }
  // The image reader, in reads of changing sizes, looped.
  for (uint8_t type : {1, 3, 5, 6}) {
    // 4096 samples in blocks of 60 in 34 bytes, a loop from 1001 to 3000.
    Bytes image{0x1A, type, 0x56, 0x22, 0, 60, 0, 34, 0, 0, 0x10, 0, 0, 0, 3, 0xE9, 0, 0, 0x0B, 0xB8};
    if (type == 1) image[5] = 1, image[7] = 2;
    image.resize(image.size() + 2 * 4096);
    for (size_t i = 20; i < image.size(); ++i) image[i] = static_cast<uint8_t>(noise.next());
    qx_decoder fast, slow;
    ASSERT_EQ(qx_open(&fast, image.data(), image.size()), QX_OK) << int(type);
    ASSERT_EQ(compact::qx_open(&slow, image.data(), image.size()), QX_OK) << int(type);
    for (size_t read = 0; read < 300; ++read) {
      std::vector<int16_t> a(read * 7 % 101), b(a.size());
      ASSERT_EQ(qx_read_looped(&fast, a.data(), a.size()), compact::qx_read_looped(&slow, b.data(), b.size()));
      ASSERT_EQ(a, b) << "type " << int(type) << " read " << read;
    }
  }
}

}  // namespace
