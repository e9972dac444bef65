#include "codecs/companding_laws.h"

#include <array>
#include <cstddef>

#include "app/error_state.h"
#include "app/job_options.h"
#include "riff/byte_order.h"

namespace {

// --- The laws' rules. They only build the tables below, at compile time. ---

constexpr uint8_t aLawEncode(int32_t x) {
  int32_t p = x >> 3;
  uint8_t mask = 0xD5;
  if (p < 0) {
    mask = 0x55;
    p = -p - 1;
  }
  constexpr int32_t kSegmentEnds[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
  int32_t seg = 0;
  while (kSegmentEnds[seg] < p) ++seg;  // p is at most 0xFFF
  int32_t q = seg < 2 ? p >> 1 : p >> seg;
  return static_cast<uint8_t>(((seg << 4) | (q & 0xF)) ^ mask);
}

constexpr int16_t aLawDecode(uint8_t a) {
  int32_t b = a ^ 0x55;
  int32_t t = (b & 0xF) << 4;
  int32_t seg = (b >> 4) & 7;
  if (seg == 0) {
    t += 8;
  } else if (seg == 1) {
    t += 0x108;
  } else {
    t = (t + 0x108) << (seg - 1);
  }
  return static_cast<int16_t>((b & 0x80) != 0 ? t : -t);
}

constexpr uint8_t muLawEncode(int32_t x) {
  int32_t p = (x & ~7) >> 2;
  uint8_t mask = 0xFF;
  if (p < 0) {
    p = -p;
    mask = 0x7F;
  }
  if (p > 8159) p = 8159;
  p += 33;
  constexpr int32_t kSegmentEnds[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
  int32_t seg = 0;
  while (seg < 8 && kSegmentEnds[seg] < p) ++seg;
  if (seg == 8) return static_cast<uint8_t>(0x7F ^ mask);
  return static_cast<uint8_t>(((seg << 4) | ((p >> (seg + 1)) & 0xF)) ^ mask);
}

constexpr int16_t muLawDecode(uint8_t u) {
  int32_t b = ~u & 0xFF;
  int32_t t = (((b & 0xF) << 3) + 0x84) << ((b & 0x70) >> 4);
  return static_cast<int16_t>((b & 0x80) != 0 ? 0x84 - t : t - 0x84);
}

// The kib-law's non-negative levels, codes 0 to 127; the negative codes
// mirror them, with code 128 at -32767.
constexpr int16_t kKibLawLevels[128] = {
    0, 14, 28, 42, 57, 72, 88, 104, 121, 139, 157, 176, 196, 216, 237, 259,
    282, 305, 329, 354, 380, 407, 435, 464, 494, 524, 557, 590, 624, 660, 696, 735,
    774, 815, 857, 901, 947, 994, 1043, 1093, 1145, 1199, 1256, 1314, 1374, 1436, 1501, 1567,
    1637, 1708, 1783, 1859, 1939, 2021, 2107, 2195, 2287, 2382, 2480, 2582, 2687, 2796, 2909, 3026,
    3147, 3273, 3403, 3538, 3677, 3821, 3971, 4126, 4286, 4452, 4625, 4803, 4987, 5178, 5376, 5581,
    5794, 6014, 6241, 6477, 6721, 6974, 7236, 7508, 7789, 8080, 8381, 8693, 9016, 9351, 9698, 10057,
    10429, 10814, 11213, 11626, 12054, 12497, 12956, 13431, 13923, 14433, 14961, 15508, 16074, 16660, 17267, 17896,
    18548, 19222, 19921, 20645, 21394, 22170, 22974, 23806, 24668, 25561, 26486, 27443, 28435, 29462, 30526, 31628,
};

constexpr int16_t kibLawDecode(uint8_t code) {
  if (code < 128) return kKibLawLevels[code];
  if (code == 128) return -32767;
  return static_cast<int16_t>(-kKibLawLevels[256 - code]);
}

// --- The tables. ---

using Decoder = std::array<int16_t, 256>;

constexpr Decoder buildDecoder(int16_t (*decode)(uint8_t)) {
  Decoder table{};
  for (size_t code = 0; code < table.size(); ++code) table[code] = decode(static_cast<uint8_t>(code));
  return table;
}

// Entry i encodes the lowest sample of its cell; every sample of a cell
// encodes alike, since the laws' decision levels fall on cell bounds.
template <size_t kEntries>
constexpr std::array<uint8_t, kEntries> buildEncoder(uint32_t shift, uint8_t (*encode)(int32_t)) {
  std::array<uint8_t, kEntries> table{};
  for (size_t i = 0; i < kEntries; ++i) table[i] = encode(static_cast<int16_t>(static_cast<uint16_t>(i << shift)));
  return table;
}

constexpr Decoder kKibLawDecoder = buildDecoder(kibLawDecode);

// Each cell of 8 samples takes the code whose level lies nearest to the
// cell's middle (ties to the larger level). Walking the cells upwards, the
// nearest level only ever moves up, so one pass over the rising levels does.
constexpr std::array<uint8_t, 8192> buildKibLawEncoder() {
  std::array<uint8_t, 256> rising{};
  for (size_t k = 0; k < 128; ++k) {
    rising[k] = static_cast<uint8_t>(128 + k);  // -32767, -31628, ..., -14
    rising[128 + k] = static_cast<uint8_t>(k);  // 0, 14, ..., 31628
  }
  std::array<uint8_t, 8192> table{};
  size_t at = 0;
  for (int32_t low = -32768; low <= 32760; low += 8) {
    int32_t twiceMiddle = 2 * low + 7;  // doubled, to stay in integers
    auto distance = [&](size_t index) {
      int32_t d = 2 * kKibLawDecoder[rising[index]] - twiceMiddle;
      return d < 0 ? -d : d;
    };
    while (at + 1 < rising.size() && distance(at + 1) <= distance(at)) ++at;
    table[static_cast<uint16_t>(low) >> 3] = rising[at];
  }
  return table;
}

constexpr auto kALawEncoder = buildEncoder<4096>(4, aLawEncode);
constexpr Decoder kALawDecoder = buildDecoder(aLawDecode);
constexpr auto kMuLawEncoder = buildEncoder<8192>(3, muLawEncode);
constexpr Decoder kMuLawDecoder = buildDecoder(muLawDecode);
constexpr auto kKibLawEncoder = buildKibLawEncoder();

struct LawTables {
  uint32_t shift;
  const uint8_t* encoder;
  const int16_t* decoder;
};

constexpr LawTables lawTables(int32_t law) {
  switch (law) {
    case kLawA: return {4, kALawEncoder.data(), kALawDecoder.data()};
    case kLawMu: return {3, kMuLawEncoder.data(), kMuLawDecoder.data()};
    case kLawKib: return {3, kKibLawEncoder.data(), kKibLawDecoder.data()};
    default: return {0, nullptr, nullptr};
  }
}

}  // namespace

uint8_t kibLawCode(int16_t sample) { return kKibLawEncoder[static_cast<uint16_t>(sample) >> 3]; }

void compandSamples(int32_t law, std::span<uint8_t> samples) {
  LawTables tables = lawTables(law);
  if (tables.encoder == nullptr) return;
  for (size_t at = 0; at + 2 <= samples.size(); at += 2) {
    uint16_t sample = loadLE16(samples.data() + at);
    storeLE16(samples.data() + at, static_cast<uint16_t>(tables.decoder[tables.encoder[sample >> tables.shift]]));
  }
}

int32_t TestLaw(WaveFile& wave) {
  errorCode = 0;
  FormatFields format = readFormat(wave);
  if (format.nChannels != 1) {
    return reportError(kErrorRefused, "Quarlix - Only mono samples can be run through TestLaw() !\n");
  }
  if (format.wFormatTag != kFormatPcm || format.wBitsPerSample != 16) {
    return reportError(kErrorRefused, "Quarlix - Only 16-bit PCM samples can be run through TestLaw() !\n");
  }
  // 16-bit mono PCM has two bytes per sample whatever its fmt claims, so no
  // stored block alignment (zero included) can misdirect the count.
  size_t bytes = wave.dataChunk.cksize < wave.data.size() ? wave.dataChunk.cksize : wave.data.size();
  wave.sampleCount = static_cast<int32_t>(bytes / 2);
  compandSamples(jobOptions.lawTest, wave.data.bytes().first(bytes));
  return errorCode;
}
