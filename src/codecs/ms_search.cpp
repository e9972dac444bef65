#include "codecs/ms_search.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codecs/ms_adpcm.h"
#include "codecs/search_beam.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"

namespace {

constexpr size_t kWidth = 32;
// libsndfile holds the step in 16 bits: a larger one would decode apart.
constexpr int32_t kMaxSearchDelta = INT16_MAX;
// First steps over the whole range, 16 to 32767, a quarter octave apart,
// judged for every pair by a trial over the block's first samples, where
// the first step matters most.
constexpr size_t kDeltasPerPair = 45;
constexpr size_t kJudgedSamples = 48;
// The two pairs whose best trials over the whole block did best go on to a
// beam each.
constexpr size_t kPairsSearched = 2;

using Candidates = std::array<HeaderCandidate, QX_MS_PAIRS * kDeltasPerPair>;

// A trial in each lane: its pair and first step, codes the nearest to each
// difference, and its error by the written encoder's measure.
struct MsHeaderTrials {
  int32_t set[kLaneCount];
  int32_t firstDelta[kLaneCount];
  uint32_t errorTotal[kLaneCount];
};

QUARLIX_LANE_KERNEL void runHeaderTrials(std::span<const int16_t> input, MsHeaderTrials& trials) {
  Lanes c1;
  Lanes c2;
  for (size_t lane = 0; lane < kLaneCount; ++lane) {
    c1[lane] = qx_adpcm_pairs[trials.set[lane]][0];
    c2[lane] = qx_adpcm_pairs[trials.set[lane]][1];
  }
  Lanes delta;
  std::memcpy(&delta, trials.firstDelta, sizeof delta);
  Lanes s1 = splat(input[1]);
  Lanes s2 = splat(input[0]);
  UnsignedLanes err{};
  for (size_t k = 2; k < input.size(); ++k) {
    Lanes x = splat(input[k]);
    Lanes pred = predictLanes(c1, c2, s1, s2);
    Lanes s = clamp16Lanes(pred + delta * orbelNearestCodeLanes(x - pred, delta));
    delta = msNextDeltaLanes(delta, orbelNearestCodeLanes(x - pred, delta));
    UnsignedLanes miss = asUnsigned(s - x);
    err += miss * miss >> 7;
    s2 = s1;
    s1 = s;
  }
  std::memcpy(trials.errorTotal, &err, sizeof err);
}

// Every pair with every first step, judged on the block's first samples.
void judgeHeaders(std::span<const int16_t> input, Candidates& candidates) {
  size_t n = 0;
  for (int32_t pair = 0; pair < QX_MS_PAIRS; ++pair) {
    for (size_t k = 0; k < kDeltasPerPair; ++k) {
      // 16 * 2^(k/4), in whole steps: 2^(k/4) is 2^(k/4 rounded down)
      // times one of four fixed fractions, in 1/256.
      constexpr int32_t kQuarterOctaves[4] = {256, 304, 362, 431};
      int32_t delta = (QX_MS_MIN_DELTA << (k / 4)) * kQuarterOctaves[k % 4] >> 8;
      candidates[n++] = {0, pair, std::min(delta, kMaxSearchDelta)};
    }
  }
  judgeCandidates(candidates, &MsHeaderTrials::firstDelta, [&](MsHeaderTrials& trials) {
    runHeaderTrials(input.first(std::min(input.size(), kJudgedSamples)), trials);
  });
}

// The pairs in the order of their best candidates' trials over the whole
// block.
std::array<HeaderCandidate, QX_MS_PAIRS> rankPairs(std::span<const int16_t> input, const Candidates& byError) {
  MsHeaderTrials trials;
  std::array<bool, QX_MS_PAIRS> found{};
  for (const HeaderCandidate& candidate : byError) {
    size_t pair = static_cast<size_t>(candidate.set);
    if (found[pair]) continue;
    found[pair] = true;
    trials.set[pair] = candidate.set;
    trials.firstDelta[pair] = candidate.start;
  }
  trials.set[kLaneCount - 1] = trials.set[0];
  trials.firstDelta[kLaneCount - 1] = trials.firstDelta[0];
  runHeaderTrials(input, trials);
  std::array<HeaderCandidate, QX_MS_PAIRS> pairs;
  for (size_t pair = 0; pair < QX_MS_PAIRS; ++pair) {
    pairs[pair] = {trials.errorTotal[pair], trials.set[pair], trials.firstDelta[pair]};
  }
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const HeaderCandidate& x, const HeaderCandidate& y) { return x.error < y.error; });
  return pairs;
}

struct MsSteps {
  [[gnu::always_inline]] static Lanes step(Lanes delta) { return delta; }
  [[gnu::always_inline]] static Lanes next(Lanes delta, Lanes code, LaneMask& over) {
    Lanes next = msNextDeltaLanes(delta, code);
    over = next > kMaxSearchDelta;
    return next;
  }
};

QUARLIX_LANE_KERNEL void runMsBeam(const int16_t* input, size_t count, size_t pair, const BeamStart& start,
                                   BeamTrace<kWidth>& trace, int8_t* codes, BeamEnd& end) {
  ScaledBeamRules<MsSteps> rules{splat(qx_adpcm_pairs[pair][0]), splat(qx_adpcm_pairs[pair][1])};
  runBeam<kWidth>(rules, input, count, start, trace, codes, end);
}

// The block's error after decoding, or none when a step passes 16 bits.
uint64_t decodedError(std::span<const uint8_t> block, std::span<const int16_t> input) {
  std::array<int16_t, kMsAdpcmMaxBlockSamples> decoded;
  std::span<int16_t> samples(decoded.data(), input.size());
  msAdpcmDecodeBlock(block, samples);
  int32_t delta = qx_int16_of(block[2], block[1]);
  for (size_t k = 2; k < input.size(); ++k) {
    uint32_t byte = block[kMsAdpcmHeaderBytes + (k - 2) / 2];
    delta = qx_ms_next_delta(delta, qx_signed_code(k % 2 == 0 ? byte >> 4 : byte & 15));
    if (delta > kMaxSearchDelta) return UINT64_MAX;
  }
  return squaredError(samples, input);
}

}  // namespace

size_t msAdpcmSearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, HeapBlock& work) {
  // The written encoder's block is the one to beat; a block without codes
  // leaves nothing to search.
  size_t bytes = msAdpcmEncodeBlock(input, block);
  if (bytes == 0 || input.size() <= 2) return bytes;
  uint64_t chosenError = decodedError(block.first(bytes), input);

  Candidates candidates;
  judgeHeaders(input, candidates);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const HeaderCandidate& x, const HeaderCandidate& y) { return x.error < y.error; });
  std::array<HeaderCandidate, QX_MS_PAIRS> pairs = rankPairs(input, candidates);
  for (const HeaderCandidate& ranked : std::span(pairs).first(kPairsSearched)) {
    // The pair's first steps, best first, as many as the beam holds.
    std::array<int32_t, kWidth> deltas;
    size_t deltaCount = 0;
    for (const HeaderCandidate& candidate : candidates) {
      if (candidate.set == ranked.set && deltaCount < kWidth &&
          std::find(deltas.begin(), deltas.begin() + deltaCount, candidate.start) == deltas.begin() + deltaCount) {
        deltas[deltaCount++] = candidate.start;
      }
    }
    BeamStart start{input[1], input[0], deltas.data(), deltaCount};
    std::array<int8_t, kMsAdpcmMaxBlockSamples> codes;
    BeamEnd end;
    size_t pair = static_cast<size_t>(ranked.set);
    runMsBeam(input.data() + 2, input.size() - 2, pair, start, beamTraceIn<kWidth>(work), codes.data(), end);
    std::array<uint8_t, kMsAdpcmMaxBlockBytes> found{};
    msAdpcmStoreHeader(input, pair, deltas[end.start], found);
    packCodes(codes.data(), input.size() - 2, &found[kMsAdpcmHeaderBytes], true);
    uint64_t error = decodedError(std::span(found).first(bytes), input);
    if (error < chosenError) {
      std::copy_n(found.begin(), bytes, block.begin());
      chosenError = error;
    }
  }
  return bytes;
}
