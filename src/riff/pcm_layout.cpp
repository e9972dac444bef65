#include "riff/pcm_layout.h"

#include <cstring>

#include "riff/byte_order.h"

namespace {

constexpr size_t kValidBitsOffset = 18;
constexpr size_t kSubFormatOffset = 24;
// The sub-format GUIDs share their last 14 bytes; their first two are the
// wFormatTag they stand for.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The wFormatTag the file stands for: the extensible fmt's sub-format, or 0
// when that fmt is too short to name one or names another kind of GUID.
uint16_t effectiveFormatTag(const WaveFile& wave) {
  uint16_t tag = readFormat(wave).wFormatTag;
  if (tag != kFormatExtensible) return tag;
  if (wave.fmt.size() < kExtensibleFormatSize) return 0;
  const uint8_t* guid = wave.fmt.data() + kSubFormatOffset;
  if (std::memcmp(guid + 2, kSubFormatTail, sizeof kSubFormatTail) != 0) return 0;
  return loadLE16(guid);
}

}  // namespace

bool isPcmFamily(const WaveFile& wave) {
  uint16_t tag = effectiveFormatTag(wave);
  return tag == kFormatPcm || tag == kFormatIeeeFloat;
}

bool readPcmLayout(const WaveFile& wave, PcmLayout& layout) {
  FormatFields format = readFormat(wave);
  uint16_t tag = effectiveFormatTag(wave);
  uint32_t bits = format.wBitsPerSample;
  if (format.nChannels == 0 || !isPcmFamily(wave)) return false;
  layout.channels = format.nChannels;
  layout.containerBytes = bits / 8;
  layout.validBits = bits;
  if (tag == kFormatIeeeFloat) {
    layout.coding = SampleCoding::kFloat;
    return bits == 32 || bits == 64;
  }
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  layout.coding = bits == 8 ? SampleCoding::kUnsigned : SampleCoding::kSigned;
  if (format.wFormatTag == kFormatExtensible) {
    // 0 valid bits is taken as "all of them", as writers that leave the
    // field unset mean it.
    uint32_t valid = loadLE16(wave.fmt.data() + kValidBitsOffset);
    if (valid > bits) return false;
    if (valid != 0) layout.validBits = valid;
  }
  return true;
}
