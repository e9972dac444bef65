// The in-memory image of one WAV file, and the operations every stage shares.
#pragma once

#include <cstdint>

#include "riff/heap_block.h"
#include "riff/riff_file.h"

// The FormatTags (fmt wFormatTag) that the system converts.
inline constexpr uint16_t kFormatPcm = 1;
inline constexpr uint16_t kFormatMsAdpcm = 2;
inline constexpr uint16_t kFormatImaAdpcm = 17;
inline constexpr uint16_t kFormatGsm610 = 49;
inline constexpr uint16_t kFormatOrbelAdpcm = 0x2000;
inline constexpr uint16_t kFormatOrbelAdpcmN64 = 0x2003;

struct WaveFile {
  RiffFile* riffFile = nullptr;  // open only inside the reader and the writer
  int32_t sampleCount = 0;
  uint32_t loopType = 0;
  uint32_t loopStart = 0;
  uint32_t loopEnd = 0;  // exclusive; 0 = no loop
  HeapBlock fmt;
  HeapBlock fact;
  HeapBlock data;
  HeapBlock smpl;
  HeapBlock info;  // the LIST INFO contents, starting with "INFO"
  // A chunk is present exactly when its descriptor's ckid is not 0.
  ChunkInfo fmtChunk{};
  ChunkInfo factChunk{};
  ChunkInfo dataChunk{};
  ChunkInfo smplChunk{};
  ChunkInfo infoChunk{};
};

// The fmt fields at their fixed offsets. Fields beyond the end of the loaded
// fmt contents read as 0, so a short fmt never causes an out-of-bounds read.
struct FormatFields {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
  uint16_t wSamplesPerBlock;
};

inline constexpr uint32_t kPcmFormatSize = 16;
inline constexpr uint32_t kBlockFormatSize = 20;  // with cbSize and wSamplesPerBlock

FormatFields readFormat(const WaveFile& wave);
bool formatHasSamplesPerBlock(const WaveFile& wave);
void storeFormat(uint8_t* destination, const FormatFields& fields, uint32_t size);

// The fact sample count, or 0 when there is none.
uint32_t factSampleCount(const WaveFile& wave);

const char* formatTagName(uint32_t formatTag);

// The chunk's cksize bytes, read from its dataOffset; empty on failure.
HeapBlock loadChunk(RiffFile* file, const ChunkInfo& descriptor);

// Moves smpl and INFO with their descriptors and copies the loop fields.
void waveCarryOver(WaveFile& source, WaveFile& destination);

int32_t waveFree(WaveFile& wave);
