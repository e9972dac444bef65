#include "codecs/orbel_n64_search.h"

#include <algorithm>
#include <array>

#include "codecs/ima_step_table.h"
#include "codecs/orbel_adpcm_n64.h"
#include "codecs/orbel_quantiser.h"
#include "codecs/search_beam.h"

namespace {

constexpr size_t kWidth = 32;
constexpr size_t kMaxSamples = orbelN64SamplesPerBlock(kN64MaxBlockBytes);
// The two sets whose candidates did best go on to a beam each.
constexpr size_t kSetsSearched = 2;
// Candidate indices: each set's estimate and the 16 around it, judged on
// the block's first samples, where the starting index matters most.
constexpr int32_t kIndicesAround = 8;
constexpr size_t kCandidatesPerSet = 2 * kIndicesAround + 1;
constexpr size_t kJudgedSamples = 34;

struct N64BeamRules {
  static constexpr bool kSecondOrder = true;
  Lanes c1;
  Lanes c2;
  // A code that would lift the index above 88 gives way to the next smaller
  // one toward the same side, until none does: codes of magnitude 3 and less
  // lower the index.
  [[gnu::always_inline]] static Lanes keepIndexInTable(Lanes index, Lanes code) {
    for (int smaller = 0; smaller < 5; ++smaller) {
      LaneMask over = index + orbelN64IndexChangeLanes(code) > kImaMaxStepIndex;
      if (!laneAny(over)) break;
      code -= select(code < 0, splat(-1), splat(1)) & over;
    }
    return code;
  }
  [[gnu::always_inline]] static Lanes nextIndex(Lanes index, Lanes code) {
    return laneMax(index + orbelN64IndexChangeLanes(code), splat(0));
  }
  [[gnu::always_inline]] void offspring(Lanes s1, Lanes s2, Lanes index, Lanes x, BeamChild& near,
                                        BeamChild& far) const {
    Lanes step{};
    for (size_t lane = 0; lane < kLaneCount; ++lane) step[lane] = kImaStepTable[static_cast<size_t>(index[lane])];
    Lanes prediction = (c1 * s1 + c2 * s2) >> 8;
    Lanes difference = x - prediction;
    near.code = orbelQuantiseLanes(difference, step);
    far.code = laneClamp(near.code + select(difference >= step * near.code, splat(1), splat(-1)), -8, 7);
    near.code = keepIndexInTable(index, near.code);
    far.code = keepIndexInTable(index, far.code);
    near.sample = laneClamp(prediction + step * near.code, INT16_MIN, INT16_MAX);
    far.sample = laneClamp(prediction + step * far.code, INT16_MIN, INT16_MAX);
    near.adapt = nextIndex(index, near.code);
    far.adapt = nextIndex(index, far.code);
  }
};

QUARLIX_LANE_KERNEL void runN64Beam(const int16_t* input, size_t count, size_t set, const BeamStart& start,
                                    BeamTrace<kWidth>& trace, int8_t* codes, BeamEnd& end) {
  N64BeamRules rules{splat(kOrbelN64Pairs[set].c1), splat(kOrbelN64Pairs[set].c2)};
  runBeam<kWidth>(rules, input, count, start, trace, codes, end);
}

struct Candidate {
  uint32_t error;  // the written encoder's measure, from a greedy trial
  int32_t set;
  int32_t index;
};

// Every set with every candidate index, judged by greedy trials over the
// first samples.
void judgeCandidates(std::span<const int16_t> input, std::array<Candidate, kN64Sets * kCandidatesPerSet>& candidates) {
  size_t n = 0;
  for (int32_t set = 0; set < kN64Sets; ++set) {
    const OrbelN64Pair& pair = kOrbelN64Pairs[static_cast<size_t>(set)];
    int32_t estimate = orbelN64EstimateIndex(pair.c1, pair.c2, input);
    int32_t first = std::clamp(estimate - kIndicesAround, 0, kImaMaxStepIndex + 1 - static_cast<int32_t>(kCandidatesPerSet));
    for (size_t k = 0; k < kCandidatesPerSet; ++k) candidates[n++] = {0, set, first + static_cast<int32_t>(k)};
  }
  for (size_t first = 0; first < candidates.size(); first += kLaneCount) {
    OrbelN64Trials trials;
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      const Candidate& candidate = candidates[std::min(first + lane, candidates.size() - 1)];
      trials.set[lane] = candidate.set;
      trials.firstIndex[lane] = candidate.index;
    }
    orbelN64RunTrials(input.first(std::min(input.size(), kJudgedSamples)), trials);
    for (size_t lane = 0; lane < kLaneCount && first + lane < candidates.size(); ++lane) {
      candidates[first + lane].error = trials.errorTotal[lane];
    }
  }
}

// The sets in the order of their two best candidates' greedy trials over
// the whole block.
struct SetScore {
  int32_t set;
  uint32_t error;
};

std::array<SetScore, kN64Sets> rankSets(std::span<const int16_t> input,
                                        const std::array<Candidate, kN64Sets * kCandidatesPerSet>& byError) {
  OrbelN64Trials trials;
  std::array<size_t, kN64Sets> found{};
  for (const Candidate& candidate : byError) {
    size_t set = static_cast<size_t>(candidate.set);
    if (found[set] == 2) continue;
    size_t lane = 2 * set + found[set]++;
    trials.set[lane] = candidate.set;
    trials.firstIndex[lane] = candidate.index;
  }
  orbelN64RunTrials(input, trials);
  std::array<SetScore, kN64Sets> sets;
  for (size_t set = 0; set < kN64Sets; ++set) {
    sets[set] = {static_cast<int32_t>(set), std::min(trials.errorTotal[2 * set], trials.errorTotal[2 * set + 1])};
  }
  std::stable_sort(sets.begin(), sets.end(), [](const SetScore& x, const SetScore& y) { return x.error < y.error; });
  return sets;
}

// The block's error after decoding. Only for blocks that never clamp the
// index: the decoder would warn.
uint64_t decodedError(std::span<const uint8_t> block, std::span<const int16_t> input) {
  std::array<int16_t, kMaxSamples> decoded;
  std::span<int16_t> samples(decoded.data(), input.size());
  orbelN64DecodeBlock(block, samples);
  return squaredError(samples, input);
}

}  // namespace

void orbelN64SearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, HeapBlock& work) {
  // The written encoder's block, found silently. One that clamps is no
  // floor: the search's best replaces it.
  OrbelN64Trials written;
  orbelN64EncodeTrials(input, written, false);
  std::array<uint8_t, kN64MaxBlockBytes> chosen{};
  size_t writtenSet = orbelN64StoreBestTrial(input, written, chosen);
  uint64_t chosenError = written.indexWarnings[writtenSet] == 0 ? decodedError(chosen, input) : UINT64_MAX;

  std::array<Candidate, kN64Sets * kCandidatesPerSet> candidates;
  judgeCandidates(input, candidates);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& x, const Candidate& y) { return x.error < y.error; });
  std::array<SetScore, kN64Sets> sets = rankSets(input, candidates);
  for (const SetScore& ranked : std::span(sets).first(kSetsSearched)) {
    // A set whose trial did more than twice as badly as the best's rarely wins.
    if (ranked.error > 2 * uint64_t{sets[0].error}) break;
    int32_t set = ranked.set;
    // The set's indices, best first.
    std::array<int32_t, kCandidatesPerSet> indices;
    size_t indexCount = 0;
    for (const Candidate& candidate : candidates) {
      if (candidate.set == set && indexCount < kWidth) indices[indexCount++] = candidate.index;
    }
    int32_t older = orbelN64HeaderSample(input[0]);
    int32_t newer = orbelN64HeaderSample(input[1]);
    BeamStart start{newer, older, indices.data(), indexCount};
    std::array<int8_t, kMaxSamples> codes;
    BeamEnd end;
    runN64Beam(input.data() + 2, input.size() - 2, static_cast<size_t>(set), start, beamTraceIn<kWidth>(work),
               codes.data(), end);
    std::array<uint8_t, kN64MaxBlockBytes> found{};
    orbelN64StoreHeader(input, set, indices[end.start], found);
    packCodes(codes.data(), input.size() - 2, found.data() + kN64HeaderBytes, true);
    uint64_t error = decodedError(found, input);
    if (error < chosenError) {
      chosen = found;
      chosenError = error;
    }
  }
  std::copy_n(chosen.begin(), kN64HeaderBytes + (input.size() - 2) / 2, block.begin());
}
