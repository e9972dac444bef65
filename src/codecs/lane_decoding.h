// Decoding formats whose blocks stand alone eight blocks at a time, one
// block in each vector lane. A sample depends on the one before it, so a
// block alone decodes no faster than that chain of arithmetic allows; eight
// chains side by side share it. Every sample is the one the device
// library's block decoder gives: the lanes restate its rules in lane form
// (the rules test holds each to the scalar rule), and the blocks that do
// not fill the lanes go through the library itself.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "codecs/lane_vectors.h"

// A LaneVoice holds the decoding state of kLaneCount blocks:
//   static constexpr size_t kCodesOffset;    where a block's codes start
//   static constexpr size_t kHeldSamples;    samples its header holds whole
//   static constexpr bool kLowNibbleFirst;   the earlier code of a byte
//   void start(const uint8_t* const block[], int16_t* const out[]);  takes
//       each lane's block header and writes the samples it holds
//   Lanes next(Lanes nibbles);               every lane's next sample
//   uint32_t clamps() const;                 step index moves past 88 the
//                                            format reports, all lanes

// What the voices of Microsoft ADPCM and N64 share: a block's two newest
// samples and its coefficient pair, the prediction from them, and the
// new sample held to 16 bits.
struct PairHistoryLanes {
  Lanes s1;  // the newest
  Lanes s2;
  Lanes c1;
  Lanes c2;

  // Takes every lane's pair and its header's two samples, the older
  // first, and writes them as the block's first samples.
  void start(const int32_t (&pair1)[kLaneCount], const int32_t (&pair2)[kLaneCount],
             const int32_t (&older)[kLaneCount], const int32_t (&newer)[kLaneCount], int16_t* const out[]) {
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      out[lane][0] = static_cast<int16_t>(older[lane]);
      out[lane][1] = static_cast<int16_t>(newer[lane]);
    }
    s1 = lanesOf(newer);
    s2 = lanesOf(older);
    c1 = lanesOf(pair1);
    c2 = lanesOf(pair2);
  }
  // The prediction plus `change`, held to 16 bits: the newest sample.
  [[gnu::always_inline]] Lanes next(Lanes change) {
    Lanes sample = laneClamp(((c1 * s1 + c2 * s2) >> 8) + change, INT16_MIN, INT16_MAX);
    s2 = s1;
    s1 = sample;
    return sample;
  }
};

// What a run of lane groups decoded: how many groups (0 when the geometry
// is not one the lanes take) and the voices' clamps.
struct LaneRun {
  size_t groups;
  uint32_t clamps;
};

// The geometry the lanes assume: a block holds its header's samples whole
// and the codes of the rest within its bytes. A fmt may say otherwise (one
// sample a block where the header holds two); such blocks go through the
// library's block decoder, which takes every geometry.
template <typename Voice>
constexpr bool lanesTakeGeometry(size_t blockBytes, size_t samplesPerBlock) {
  return samplesPerBlock >= Voice::kHeldSamples && blockBytes >= Voice::kCodesOffset &&
         (samplesPerBlock - Voice::kHeldSamples + 1) / 2 <= blockBytes - Voice::kCodesOffset;
}

// Decodes `groups` runs of kLaneCount whole blocks (of blockBytes,
// samplesPerBlock samples each) from `blocks` into `samples`, a block's
// samples after the one before; none unless the lanes take the geometry.
template <typename Voice>
[[gnu::always_inline]] inline LaneRun decodeLaneGroups(const uint8_t* blocks, size_t blockBytes,
                                                       size_t samplesPerBlock, size_t groups, int16_t* samples) {
  if (!lanesTakeGeometry<Voice>(blockBytes, samplesPerBlock)) return {0, 0};
  constexpr unsigned kFirst = Voice::kLowNibbleFirst ? 0 : 4;
  constexpr unsigned kSecond = 4 - kFirst;
  size_t codes = samplesPerBlock - Voice::kHeldSamples;
  uint32_t clamps = 0;
  for (size_t group = 0; group < groups; ++group) {
    const uint8_t* block[kLaneCount];
    int16_t* held[kLaneCount];
    const uint8_t* code[kLaneCount];
    int16_t* out[kLaneCount];
    for (size_t lane = 0; lane < kLaneCount; ++lane) {
      block[lane] = blocks + (group * kLaneCount + lane) * blockBytes;
      held[lane] = samples + (group * kLaneCount + lane) * samplesPerBlock;
      code[lane] = block[lane] + Voice::kCodesOffset;
      out[lane] = held[lane] + Voice::kHeldSamples;
    }
    Voice voice;
    voice.start(block, held);
    // Eight codes (four bytes) of every lane at a time, from one 32-bit
    // little-endian word per lane.
    size_t c = 0;
    for (; c + 8 <= codes; c += 8) {
      Lanes words;
      for (size_t lane = 0; lane < kLaneCount; ++lane) {
        uint32_t word;
        std::memcpy(&word, code[lane] + c / 2, 4);
        words[lane] = static_cast<int32_t>(word);
      }
      Lanes decoded[8];
      for (unsigned n = 0; n < 8; ++n) {
        unsigned shift = 8 * (n / 2) + (n % 2 == 0 ? kFirst : kSecond);
        decoded[n] = voice.next(words >> shift & 15);
      }
      for (size_t lane = 0; lane < kLaneCount; ++lane) {
        for (unsigned n = 0; n < 8; ++n) out[lane][c + n] = static_cast<int16_t>(decoded[n][lane]);
      }
    }
    for (; c < codes; ++c) {
      Lanes nibbles;
      for (size_t lane = 0; lane < kLaneCount; ++lane) {
        nibbles[lane] = code[lane][c / 2] >> (c % 2 == 0 ? kFirst : kSecond) & 15;
      }
      Lanes decoded = voice.next(nibbles);
      for (size_t lane = 0; lane < kLaneCount; ++lane) out[lane][c] = static_cast<int16_t>(decoded[lane]);
    }
    clamps += voice.clamps();
  }
  return {groups, clamps};
}

// Decodes the blocks (of blockBytes, samplesPerBlock samples each) into
// `samples`, the last block cut to the samples that remain:
// laneGroups(blocks, blockBytes, samplesPerBlock, groups, samples) decodes
// runs of kLaneCount whole blocks where it takes the geometry,
// decodeBlock(block, blockBytes, out, count) the others one by one. Both
// report their clamps; the sum is returned. Samples that no whole block of
// `blocks` holds are zero.
using LaneGroupDecoder = LaneRun (*)(const uint8_t*, size_t, size_t, size_t, int16_t*);
using BlockDecoder = uint32_t (*)(const uint8_t*, size_t, int16_t*, size_t);

inline uint32_t decodeBlocksInLanes(std::span<const uint8_t> blocks, size_t blockBytes, size_t samplesPerBlock,
                                    std::span<int16_t> samples, LaneGroupDecoder laneGroups,
                                    BlockDecoder decodeBlock) {
  if (samplesPerBlock == 0 || blockBytes == 0) {
    std::fill(samples.begin(), samples.end(), int16_t{0});
    return 0;
  }
  size_t wholeBlocks = blocks.size() / blockBytes;
  size_t groups = std::min(samples.size() / samplesPerBlock, wholeBlocks) / kLaneCount;
  LaneRun run = laneGroups(blocks.data(), blockBytes, samplesPerBlock, groups, samples.data());
  uint32_t clamps = run.clamps;
  size_t block = run.groups * kLaneCount;
  size_t done = block * samplesPerBlock;
  for (; done < samples.size() && block < wholeBlocks; done += samplesPerBlock, ++block) {
    size_t count = std::min(samples.size() - done, samplesPerBlock);
    clamps += decodeBlock(blocks.data() + block * blockBytes, blockBytes, samples.data() + done, count);
  }
  if (done < samples.size()) std::fill(samples.begin() + static_cast<ptrdiff_t>(done), samples.end(), int16_t{0});
  return clamps;
}

// A block decoder of the library for a format without clamps to report.
template <size_t (*Decode)(const uint8_t*, size_t, int16_t*, size_t)>
uint32_t withoutClamps(const uint8_t* block, size_t blockBytes, int16_t* out, size_t count) {
  Decode(block, blockBytes, out, count);
  return 0;
}
