#include "codecs/orbel_search.h"

#include <algorithm>
#include <array>

#include "codecs/search_beam.h"
#include "quarlix_codec_rules.h"
#include "riff/byte_order.h"

namespace {

constexpr size_t kWidth = 32;
constexpr size_t kMaxSamples = orbelSamplesPerBlock(kOrbelMaxBlockBytes);
constexpr int32_t kMaxHeaderStep = 0xFFF8;
// The two sets whose candidates did best go on to a beam each.
constexpr size_t kSetsSearched = 2;
// Candidate steps: the step the last block ended with, times 2^(k/2) for
// k = -4 .. 3 (in 1/256), and each set's own estimate.
constexpr std::array<int32_t, 8> kLadder = {64, 91, 128, 181, 256, 362, 512, 724};
// And the whole range, 8 to 0xFFF8, half an octave apart (8 times 2^(k/2),
// in multiples of 8): a loud sound after a quiet block needs a step the
// ladder does not reach.
constexpr size_t kWholeRange = 27;
constexpr size_t kCandidatesPerSet = kLadder.size() + 1 + kWholeRange;

struct OrbelSteps {
  [[gnu::always_inline]] static Lanes step(Lanes step) { return step; }
  [[gnu::always_inline]] static Lanes next(Lanes step, Lanes code, LaneMask& over) {
    over = splat(0);
    return orbelNextStepLanes(step, code);
  }
};

QUARLIX_LANE_KERNEL void runOrbelBeam(const int16_t* input, size_t count, size_t set, const BeamStart& start,
                                      BeamTrace<kWidth>& trace, int8_t* codes, BeamEnd& end) {
  ScaledBeamRules<OrbelSteps> rules{splat(qx_adpcm_pairs[set][0]), splat(qx_adpcm_pairs[set][1])};
  runBeam<kWidth>(rules, input, count, start, trace, codes, end);
}

using Candidates = std::array<HeaderCandidate, kOrbelEncoderSets * kCandidatesPerSet>;

// Every set with every candidate step, judged by a greedy trial over the block.
void judgeHeaders(std::span<const int16_t> input, size_t count, const OrbelSearchState& state, Candidates& candidates) {
  size_t n = 0;
  for (int32_t set = 0; set < kOrbelEncoderSets; ++set) {
    const int16_t* pair = qx_adpcm_pairs[set];
    for (int32_t scale : kLadder) {
      int32_t step = ((state.step * scale >> 8) + 4) & ~7;
      candidates[n++] = {0, set, std::clamp(step, QX_ORBEL_STEP_FLOOR, kMaxHeaderStep)};
    }
    candidates[n++] = {0, set, (orbelEstimateStep(pair[0], pair[1], input) + 4) & ~7};
    for (size_t k = 0; k < kWholeRange; ++k) {
      int32_t step = ((QX_ORBEL_STEP_FLOOR << (k / 2)) * (k % 2 == 0 ? 256 : 362) >> 8) & ~7;
      candidates[n++] = {0, set, std::min(step, kMaxHeaderStep)};
    }
  }
  judgeCandidates(candidates, &OrbelTrials::firstStep,
                  [&](OrbelTrials& trials) { orbelRunTrials(input, count, state.history, trials); });
}

// The step a block's decoding ends with.
int32_t stepAfter(std::span<const uint8_t> block, size_t count) {
  int32_t step = loadLE16(block.data()) & 0xFFF8;
  for (size_t i = 0; i < count; ++i) {
    uint32_t byte = block[kOrbelHeaderBytes + i / 2];
    step = qx_orbel_next_step(step, qx_signed_code(i % 2 == 0 ? byte >> 4 : byte & 15));
  }
  return step;
}

// The block's error after decoding from history; its end history too.
uint64_t decodedError(std::span<const uint8_t> block, std::span<const int16_t> input, AdpcmHistory& history) {
  std::array<int16_t, kMaxSamples> decoded;
  std::span<int16_t> samples(decoded.data(), input.size());
  orbelDecodeBlock(block, samples, history);
  return squaredError(samples, input);
}

}  // namespace

void orbelSearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, size_t count,
                      OrbelSearchState& state, HeapBlock& work) {
  // The written encoder's block from the same history is the one to beat.
  std::span<const int16_t> samples = input.first(count);
  std::array<uint8_t, kOrbelMaxBlockBytes> chosen{};
  AdpcmHistory written = state.history;
  orbelEncodeBlock(input, chosen, count, written);
  AdpcmHistory chosenEnd = state.history;
  uint64_t chosenError = decodedError(chosen, samples, chosenEnd);
  int32_t chosenStep = stepAfter(chosen, count);

  Candidates candidates;
  judgeHeaders(input, count, state, candidates);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const HeaderCandidate& x, const HeaderCandidate& y) { return x.error < y.error; });
  // The sets in the order of their best candidates.
  std::array<const HeaderCandidate*, kSetsSearched> sets;
  size_t setCount = 0;
  for (const HeaderCandidate& candidate : candidates) {
    if (setCount == sets.size()) break;
    bool fresh = true;
    for (size_t i = 0; i < setCount; ++i) fresh &= sets[i]->set != candidate.set;
    if (fresh) sets[setCount++] = &candidate;
  }
  for (const HeaderCandidate* ranked : sets) {
    // A set whose best trial did more than twice as badly as the best's
    // rarely wins.
    if (ranked->error > 2 * uint64_t{sets[0]->error}) break;
    int32_t set = ranked->set;
    // The set's steps, best first, as many as the beam holds.
    std::array<int32_t, kCandidatesPerSet> steps;
    size_t stepCount = 0;
    for (const HeaderCandidate& candidate : candidates) {
      if (candidate.set == set && stepCount < kWidth &&
          std::find(steps.begin(), steps.begin() + stepCount, candidate.start) == steps.begin() + stepCount) {
        steps[stepCount++] = candidate.start;
      }
    }
    BeamStart start{state.history.sample1, state.history.sample2, steps.data(), stepCount};
    std::array<int8_t, kMaxSamples> codes;
    BeamEnd end;
    runOrbelBeam(input.data(), count, static_cast<size_t>(set), start, beamTraceIn<kWidth>(work), codes.data(), end);
    std::array<uint8_t, kOrbelMaxBlockBytes> found{};
    storeLE16(found.data(), static_cast<uint32_t>(steps[end.start] | set));
    packCodes(codes.data(), count, found.data() + kOrbelHeaderBytes, true);
    AdpcmHistory foundEnd = state.history;
    uint64_t error = decodedError(found, samples, foundEnd);
    if (error < chosenError) {
      chosen = found;
      chosenEnd = foundEnd;
      chosenError = error;
      chosenStep = end.adapt;
    }
  }
  std::copy_n(chosen.begin(), orbelCodedBytes(count), block.begin());
  state.history = chosenEnd;
  state.step = chosenStep;
}
