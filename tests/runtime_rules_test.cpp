// The codec rules that exist twice on purpose: the encoders' lane forms
// against the shared scalar rules over their whole input domains, and the
// decoder library's host fast paths (QX_FAST, as the tool builds it) against
// its compact form, compiled here from the same source as C++.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <algorithm>
#include <vector>

#include "codecs/ima_adpcm.h"
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

// For every step, the differences where the nearest code changes (and
// their neighbours), of both signs, up to the largest a prediction leaves
// (32768 + 98302).
Inputs quantiserDomain() {
  Inputs out;
  for (int32_t step : encoderSteps()) {
    for (int32_t half = 0; half <= 17; ++half) {
      for (int32_t offset : {-1, 0, 1}) {
        int64_t magnitude = int64_t{half} * step / 2 + offset;
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
      // Microsoft ADPCM: an encoder's deltas run from 16 to 98301.
      {"Microsoft ADPCM delta", product(16, 98301, -8, 7), [](Lanes delta, Lanes code) { return msNextDeltaLanes(delta, code); },
       [](int32_t delta, int32_t code) { return qx_ms_next_delta(delta, code); }},
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
      {"Orbel quantiser", quantiserDomain(), [](Lanes difference, Lanes step) { return orbelQuantiseLanes(difference, step); },
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
