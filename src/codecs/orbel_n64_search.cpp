#include "codecs/orbel_n64_search.h"

#include <algorithm>
#include <array>

#include "codecs/orbel_adpcm_n64.h"
#include "codecs/search_beam.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"

namespace {

// The beam's widths: most of a stream's noise is in its noisiest blocks,
// which get the most survivors, and little in its quietest.
constexpr size_t kNarrowWidth = 16;
constexpr size_t kWidth = 32;
constexpr size_t kWideWidth = 128;
constexpr size_t kMaxSamples = orbelN64SamplesPerBlock(kN64MaxBlockBytes);
// The sets whose candidates did best go on to a beam each: the second
// unless its trial did more than twice as badly as the best's, when it
// rarely wins, and a third only when its trial came within a quarter of
// the best's, where the trials' order is least sure.
constexpr size_t kSetsSearched = 3;
// Candidate indices: each set's estimate and the 16 around it, judged on
// the block's first samples, where the starting index matters most.
constexpr int32_t kIndicesAround = 8;
constexpr size_t kCandidatesPerSet = 2 * kIndicesAround + 1;
constexpr size_t kJudgedSamples = 34;

struct N64Steps {
  [[gnu::always_inline]] static Lanes step(Lanes index) {
    Lanes step{};
    for (size_t lane = 0; lane < kLaneCount; ++lane) step[lane] = qx_ima_step_table[index[lane]];
    return step;
  }
  // A code that would make the decoder clamp the index (and warn) is over.
  [[gnu::always_inline]] static Lanes next(Lanes index, Lanes code, LaneMask& over) {
    return n64NextIndexLanes(index, code, over);
  }
};

template <size_t Width>
QUARLIX_LANE_KERNEL void runN64Beam(const int16_t* input, size_t count, size_t set, const BeamStart& start,
                                    BeamTrace<Width>& trace, int8_t* codes, BeamEnd& end) {
  ScaledBeamRules<N64Steps> rules{splat(qx_n64_pairs[set][0]), splat(qx_n64_pairs[set][1])};
  runBeam<Width>(rules, input, count, start, trace, codes, end);
}

using Candidates = std::array<HeaderCandidate, kN64Sets * kCandidatesPerSet>;

// Every set with every candidate index, judged by greedy trials over the
// first samples.
void judgeHeaders(std::span<const int16_t> input, Candidates& candidates) {
  size_t n = 0;
  for (int32_t set = 0; set < kN64Sets; ++set) {
    const int16_t* pair = qx_n64_pairs[set];
    int32_t estimate = orbelN64EstimateIndex(pair[0], pair[1], input);
    int32_t first = std::clamp(estimate - kIndicesAround, 0, QX_IMA_MAX_INDEX + 1 - static_cast<int32_t>(kCandidatesPerSet));
    for (size_t k = 0; k < kCandidatesPerSet; ++k) candidates[n++] = {0, set, first + static_cast<int32_t>(k)};
  }
  judgeCandidates(candidates, &OrbelN64Trials::firstIndex, [&](OrbelN64Trials& trials) {
    orbelN64RunTrials(input.first(std::min(input.size(), kJudgedSamples)), trials);
  });
}

// A set's start indices over the whole range, judged by greedy trials over
// the whole block, best first: every fourth index, then the others within
// three of the two best of those. A loud sound after a quiet start finds
// the large step it needs there, which the estimate from the first samples
// misses.
constexpr int32_t kCoarseSpacing = 4;
constexpr size_t kCoarse = QX_IMA_MAX_INDEX / kCoarseSpacing + 1;
constexpr size_t kRefined = 2;
using WholeRange = std::array<HeaderCandidate, kCoarse + kRefined * (2 * kCoarseSpacing - 2)>;

size_t judgeWholeRange(std::span<const int16_t> input, int32_t set, WholeRange& judged) {
  auto judge = [&](size_t from, size_t to) {
    for (size_t begin = from; begin < to; begin += kLaneCount) {
      OrbelN64Trials trials;
      for (size_t lane = 0; lane < kLaneCount; ++lane) {
        trials.set[lane] = set;
        trials.firstIndex[lane] = judged[std::min(begin + lane, to - 1)].start;
      }
      orbelN64RunTrials(input, trials);
      for (size_t lane = 0; lane < kLaneCount && begin + lane < to; ++lane) judged[begin + lane].error = trials.errorTotal[lane];
    }
  };
  auto byError = [](const HeaderCandidate& x, const HeaderCandidate& y) { return x.error < y.error; };
  size_t n = 0;
  for (int32_t index = 0; index <= QX_IMA_MAX_INDEX; index += kCoarseSpacing) judged[n++] = {0, set, index};
  judge(0, n);
  std::stable_sort(judged.begin(), judged.begin() + static_cast<ptrdiff_t>(n), byError);
  size_t coarse = n;
  for (size_t best = 0; best < kRefined; ++best) {
    for (int32_t distance = 1; distance < kCoarseSpacing; ++distance) {
      for (int32_t index : {judged[best].start - distance, judged[best].start + distance}) {
        bool fresh = index >= 0 && index <= QX_IMA_MAX_INDEX;
        for (size_t k = coarse; k < n && fresh; ++k) fresh = judged[k].start != index;
        if (fresh) judged[n++] = {0, set, index};
      }
    }
  }
  judge(coarse, n);
  std::stable_sort(judged.begin(), judged.begin() + static_cast<ptrdiff_t>(n), byError);
  return n;
}

// The sets in the order of their two best candidates' greedy trials over
// the whole block.
struct SetScore {
  int32_t set;
  uint32_t error;
};

std::array<SetScore, kN64Sets> rankSets(std::span<const int16_t> input, const Candidates& byError) {
  OrbelN64Trials trials;
  std::array<size_t, kN64Sets> found{};
  for (const HeaderCandidate& candidate : byError) {
    size_t set = static_cast<size_t>(candidate.set);
    if (found[set] == 2) continue;
    size_t lane = 2 * set + found[set]++;
    trials.set[lane] = candidate.set;
    trials.firstIndex[lane] = candidate.start;
  }
  orbelN64RunTrials(input, trials);
  std::array<SetScore, kN64Sets> sets;
  for (size_t set = 0; set < kN64Sets; ++set) {
    sets[set] = {static_cast<int32_t>(set), std::min(trials.errorTotal[2 * set], trials.errorTotal[2 * set + 1])};
  }
  std::stable_sort(sets.begin(), sets.end(), [](const SetScore& x, const SetScore& y) { return x.error < y.error; });
  return sets;
}

// The block's error after decoding, or none when the decoder would clamp
// the step index (and warn).
uint64_t decodedError(std::span<const uint8_t> block, std::span<const int16_t> input) {
  std::array<int16_t, kMaxSamples> decoded;
  uint32_t clamps = 0;
  qx_n64_decode_block(block.data(), block.size(), decoded.data(), input.size(), &clamps);
  return clamps == 0 ? squaredError(std::span<const int16_t>(decoded.data(), input.size()), input) : UINT64_MAX;
}

}  // namespace

uint64_t orbelN64WriteWrittenBlock(std::span<const int16_t> input, std::span<uint8_t> block) {
  OrbelN64Trials written;
  orbelN64EncodeTrials(input, written, false);
  orbelN64StoreBestTrial(input, written, block);
  return decodedError(block, input);
}

void orbelN64ChooseWidths(std::span<N64BlockSearch> blocks, std::span<uint32_t> order) {
  size_t count = blocks.size();
  for (size_t k = 0; k < count; ++k) order[k] = static_cast<uint32_t>(k);
  std::sort(order.begin(), order.begin() + static_cast<ptrdiff_t>(count), [&](uint32_t x, uint32_t y) {
    uint64_t noiseX = blocks[x].writtenNoise;
    uint64_t noiseY = blocks[y].writtenNoise;
    return noiseX != noiseY ? noiseX > noiseY : x < y;
  });
  size_t wide = (count + kN64WideShare - 1) / kN64WideShare;
  size_t narrow = count / kN64NarrowShare;
  for (size_t rank = 0; rank < count; ++rank) {
    blocks[order[rank]].width = rank < wide ? kWideWidth : rank >= count - narrow ? kNarrowWidth : kWidth;
  }
}

void orbelN64SearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, HeapBlock& work,
                         const N64BlockSearch& plan) {
  // The written encoder's block is the floor, unless it clamps: then the
  // search's best replaces it.
  size_t bytes = block.size();
  std::array<uint8_t, kN64MaxBlockBytes> chosen{};
  std::copy_n(block.begin(), bytes, chosen.begin());
  uint64_t chosenError = plan.writtenNoise;
  size_t width = plan.width;

  Candidates candidates;
  judgeHeaders(input, candidates);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const HeaderCandidate& x, const HeaderCandidate& y) { return x.error < y.error; });
  std::array<SetScore, kN64Sets> sets = rankSets(input, candidates);
  for (size_t rank = 0; rank < kSetsSearched; ++rank) {
    const SetScore& ranked = sets[rank];
    uint64_t limit = rank < 2 ? 2 * uint64_t{sets[0].error} : 5 * uint64_t{sets[0].error} / 4;
    if (ranked.error > limit) break;
    int32_t set = ranked.set;
    // The set's indices, as many as the beam holds: the best over the
    // whole range, then those around the estimate, best first.
    WholeRange whole;
    size_t wholeCount = judgeWholeRange(input, set, whole);
    std::array<int32_t, QX_IMA_MAX_INDEX + 1> indices;
    size_t indexCount = 0;
    auto add = [&](int32_t index) {
      if (indexCount < width && std::find(indices.begin(), indices.begin() + indexCount, index) == indices.begin() + indexCount) {
        indices[indexCount++] = index;
      }
    };
    for (size_t k = 0; k < wholeCount; ++k) add(whole[k].start);
    for (const HeaderCandidate& candidate : candidates) {
      if (candidate.set == set) add(candidate.start);
    }
    int32_t older = orbelN64HeaderSample(input[0]);
    int32_t newer = orbelN64HeaderSample(input[1]);
    auto search = [&](const int32_t* starts, size_t count) {
      BeamStart start{newer, older, starts, count};
      std::array<int8_t, kMaxSamples> codes;
      BeamEnd end;
      auto run = [&]<size_t Width>() {
        runN64Beam<Width>(input.data() + 2, input.size() - 2, static_cast<size_t>(set), start,
                          beamTraceIn<Width>(work), codes.data(), end);
      };
      if (width == kWideWidth) run.operator()<kWideWidth>();
      else if (width == kNarrowWidth) run.operator()<kNarrowWidth>();
      else run.operator()<kWidth>();
      std::array<uint8_t, kN64MaxBlockBytes> found{};
      orbelN64StoreHeader(input, set, starts[end.start], found);
      packCodes(codes.data(), input.size() - 2, found.data() + kN64HeaderBytes, true);
      uint64_t error = decodedError(std::span(found).first(bytes), input);
      if (error < chosenError) {
        chosen = found;
        chosenError = error;
      }
      return starts[end.start];
    };
    // The beam prefers what fits the first samples: where a loud sound
    // follows a quiet start, the best start's greedy trial (its measure
    // is the squared miss over 128) can beat it, and then that start gets
    // a beam of its own.
    if (search(indices.data(), indexCount) != indices[0] && uint64_t{whole[0].error} * 128 < chosenError) {
      search(indices.data(), 1);
    }
  }
  std::copy_n(chosen.begin(), bytes, block.begin());
}
