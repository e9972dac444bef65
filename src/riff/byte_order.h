// Fixed-width loads and stores in both byte orders: WAV fields are
// little-endian, the sample outputs big-endian.
#pragma once

#include <cstdint>

constexpr uint32_t fourCC(const char (&text)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

inline constexpr uint32_t kFourCCRiff = fourCC("RIFF");
inline constexpr uint32_t kFourCCList = fourCC("LIST");
inline constexpr uint32_t kFourCCWave = fourCC("WAVE");
inline constexpr uint32_t kFourCCFmt = fourCC("fmt ");
inline constexpr uint32_t kFourCCFact = fourCC("fact");
inline constexpr uint32_t kFourCCData = fourCC("data");
inline constexpr uint32_t kFourCCSmpl = fourCC("smpl");
inline constexpr uint32_t kFourCCInfo = fourCC("INFO");
inline constexpr uint32_t kFourCCIcmt = fourCC("ICMT");

inline uint16_t loadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t loadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t loadBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

inline void storeLE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void storeLE32(uint8_t* p, uint32_t v) {
  storeLE16(p, v);
  storeLE16(p + 2, v >> 16);
}
inline void storeBE16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void storeBE32(uint8_t* p, uint32_t v) {
  storeBE16(p, v >> 16);
  storeBE16(p + 2, v);
}
