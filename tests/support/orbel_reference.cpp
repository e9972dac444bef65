#include "support/orbel_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Division rounding toward minus infinity, spelled out rather than shifted.
int64_t floorDiv(int64_t value, int64_t divisor) {
  int64_t quotient = value / divisor;
  return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

int64_t clamp16(int64_t v) { return std::clamp<int64_t>(v, -32768, 32767); }

int64_t nearestCode(int64_t difference, int64_t step) {
  int64_t q = std::lround(static_cast<double>(difference) / static_cast<double>(step));
  return std::clamp<int64_t>(q, -8, 7);
}

uint32_t sampleError(int64_t r, int64_t x) { return static_cast<uint32_t>((r - x) * (r - x) / 128); }

int64_t estimate(int64_t a, int64_t b, const std::vector<int16_t>& x) {
  int64_t sum = 0;
  for (int k = 2; k <= 4; ++k) sum += std::llabs(x[k] - floorDiv(a * x[k - 1] + b * x[k - 2], 256));
  return std::max<int64_t>(sum / 12, 8);
}

void packCodes(const std::vector<int64_t>& codes, std::vector<uint8_t>& out) {
  for (size_t i = 0; i < codes.size(); i += 2) {
    uint8_t high = static_cast<uint8_t>(codes[i] & 15);
    uint8_t low = i + 1 < codes.size() ? static_cast<uint8_t>(codes[i + 1] & 15) : 0;
    out.push_back(static_cast<uint8_t>(high * 16 + low));
  }
}

struct Trial {
  uint32_t error = 0;
  std::vector<uint8_t> bytes;
  std::vector<int64_t> samples;  // reconstructed
  int64_t s1 = 0, s2 = 0;
  std::vector<size_t> warnedSamples;  // N64: where the index clamp fired
};

// ---- Orbel ADPCM ----
const int64_t kPairs[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};
const int64_t kFactors[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

Trial orbelTrial(const std::vector<int16_t>& x, size_t count, int set, int64_t s1, int64_t s2) {
  Trial t;
  int64_t a = kPairs[set][0], b = kPairs[set][1];
  int64_t step = (estimate(a, b, x) + 4) / 8 * 8;
  int64_t header = step + set;
  t.bytes = {static_cast<uint8_t>(header % 256), static_cast<uint8_t>(header / 256)};
  std::vector<int64_t> codes;
  for (size_t i = 0; i < count; ++i) {
    int64_t p = floorDiv(a * s1 + b * s2, 256);
    int64_t q = nearestCode(x[i] - p, step);
    int64_t r = clamp16(p + step * q);
    step = std::max<int64_t>(floorDiv(step * kFactors[q & 15], 256), 8);
    s2 = s1;
    s1 = r;
    t.error += sampleError(r, x[i]);
    t.samples.push_back(r);
    codes.push_back(q);
  }
  packCodes(codes, t.bytes);
  t.s1 = s1;
  t.s2 = s2;
  return t;
}

// ---- Orbel ADPCM-N64 ----
const int64_t kN64Pairs[4][2] = {{0, 0}, {256, 0}, {384, -128}, {512, -256}};
const int64_t kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

int64_t indexChange(int64_t code) {
  int64_t magnitude = std::llabs(code);
  if (magnitude < 4) return -1;
  return 2 * (magnitude - 3);
}

int64_t nearestIndex(int64_t target) {
  int64_t best = 0;
  for (int64_t i = 0; i < 89; ++i) {
    if (std::llabs(target - kSteps[i]) <= std::llabs(target - kSteps[best])) best = i;
  }
  return best;
}

int64_t headerSample(int64_t x) { return std::min<int64_t>(floorDiv(x + 2, 4) * 4, 32764); }

Trial n64Trial(const std::vector<int16_t>& x, int set) {
  Trial t;
  int64_t c1 = kN64Pairs[set][0], c2 = kN64Pairs[set][1];
  int64_t index = nearestIndex(estimate(c1, c2, x));
  int64_t s2 = headerSample(x[0]), s1 = headerSample(x[1]);
  uint16_t w0 = static_cast<uint16_t>(s2 + set), w1 = static_cast<uint16_t>(s1);
  t.bytes = {static_cast<uint8_t>(w0 >> 8), static_cast<uint8_t>(w0 & 255), static_cast<uint8_t>(w1 >> 8),
             static_cast<uint8_t>(w1 & 255), static_cast<uint8_t>(index)};
  t.samples = {s2, s1};
  std::vector<int64_t> codes;
  for (size_t i = 2; i < x.size(); ++i) {
    int64_t p = floorDiv(c1 * s1 + c2 * s2, 256);
    int64_t step = kSteps[index];
    int64_t q = nearestCode(x[i] - p, step);
    int64_t r = clamp16(p + step * q);
    index += indexChange(q);
    if (index > 88) {
      index = 88;
      t.warnedSamples.push_back(i);
    }
    index = std::max<int64_t>(index, 0);
    s2 = s1;
    s1 = r;
    t.error += sampleError(r, x[i]);
    t.samples.push_back(r);
    codes.push_back(q);
  }
  packCodes(codes, t.bytes);
  return t;
}

std::vector<int16_t> paddedBlock(const std::vector<int16_t>& input, size_t start, size_t length) {
  std::vector<int16_t> block(length, 0);
  for (size_t i = 0; i < length && start + i < input.size(); ++i) block[i] = input[start + i];
  return block;
}

}  // namespace

ReferenceStream referenceOrbelEncode(const std::vector<int16_t>& input, size_t blockBytes) {
  ReferenceStream out;
  size_t perBlock = 2 * blockBytes - 4;
  int64_t s1 = 0, s2 = 0;
  for (size_t start = 0; start < input.size(); start += perBlock) {
    size_t count = std::min(perBlock, input.size() - start);
    std::vector<int16_t> x = paddedBlock(input, start, perBlock);
    Trial best;
    for (int set = 0; set < 7; ++set) {
      Trial t = orbelTrial(x, count, set, s1, s2);
      if (set == 0 || t.error < best.error) best = t;
    }
    best.bytes.resize(blockBytes, 0);
    out.bytes.insert(out.bytes.end(), best.bytes.begin(), best.bytes.end());
    for (int64_t r : best.samples) out.reconstruction.push_back(static_cast<int16_t>(r));
    s1 = best.s1;
    s2 = best.s2;
  }
  return out;
}

ReferenceStream referenceN64Encode(const std::vector<int16_t>& input, size_t blockBytes) {
  ReferenceStream out;
  size_t perBlock = 2 * blockBytes - 8;
  for (size_t start = 0; start < input.size(); start += perBlock) {
    std::vector<int16_t> x = paddedBlock(input, start, perBlock);
    Trial best;
    for (int set = 0; set < 4; ++set) {
      Trial t = n64Trial(x, set);
      out.indexWarnings += t.warnedSamples.size();
      if (set == 0 || t.error < best.error) best = t;
    }
    out.bytes.insert(out.bytes.end(), best.bytes.begin(), best.bytes.end());
    size_t count = std::min(perBlock, input.size() - start);
    for (size_t i = 0; i < count; ++i) out.reconstruction.push_back(static_cast<int16_t>(best.samples[i]));
    for (size_t i : best.warnedSamples) out.keptWarnings += i < count ? 1 : 0;
  }
  return out;
}
