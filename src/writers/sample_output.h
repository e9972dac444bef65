// What the three sample outputs (.bin, .c, .sam) share: the sample type, the
// big-endian header, the checks and the sample count, the data length, and
// storing the finished image beside the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "riff/heap_block.h"
#include "riff/wave_file.h"

// The one-byte type code of a sample output; 0 marks a format none takes.
using SampleType = uint8_t;
inline constexpr SampleType kSampleTypePcm = 1;
inline constexpr SampleType kSampleTypeIma = 3;
inline constexpr SampleType kSampleTypeGsm = 4;
inline constexpr SampleType kSampleTypeOrbel = 5;
inline constexpr SampleType kSampleTypeOrbelN64 = 6;

SampleType sampleTypeFor(uint16_t wFormatTag);

// The 20-byte header at the start of a .bin file (and of a .c array).
struct BinHeader {
  uint8_t head;
  uint8_t type;
  uint16_t freq;
  uint16_t blkdata;  // samples per block
  uint16_t blksize;  // bytes per block
  uint32_t samples;
  uint32_t loop1st;
  uint32_t loopend;  // exclusive; 0 = no loop
};

inline constexpr size_t kBinHeaderSize = 20;

// A writer's extension and its two refusal messages.
struct SampleWriter {
  const char* extension;
  const char* notMonoMessage;
  const char* wrongTypeMessage;
};

struct SampleOutput {
  SampleType type;
  uint32_t sampleCount;  // at most INT32_MAX
};

// Checks the record for the writer, works out the sample type and count
// (stored in sampleCount and, for block formats, cut to whole blocks in the
// fact chunk), points jobNames.outputPath beside the input and makes sure it
// can be written. 0, or the reported code (-10 or -6).
int32_t prepareSampleOutput(WaveFile& wave, const SampleWriter& writer, SampleOutput& output);

// The number of data bytes a sample output carries; never more than the
// data chunk holds.
size_t sampleDataLength(const WaveFile& wave, SampleType type, uint32_t sampleCount);

// Zero bytes that bring `length` to a multiple of 4.
size_t paddingToFour(size_t length);

// The header for the prepared record; the loop spans the whole sample under -rl.
BinHeader binHeaderFor(const WaveFile& wave, const SampleOutput& output);
void storeBinHeader(const BinHeader& header, uint8_t* destination);

// Text assembled in memory, every "\n" stored as CR LF. A failed allocation
// is kept and reported when the text is stored.
struct TextImage {
  HeapBlock bytes;
  size_t length = 0;
  bool outOfMemory = false;
};

// Gives the text room for `capacity` bytes at once, for a writer that
// knows how long its text will be at most: it then never grows.
void sizeText(TextImage& text, size_t capacity);

void appendText(TextImage& text, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Stores the finished image under jobNames.outputPath, replacing any file
// there only once the whole image is written. 0, or the reported code.
int32_t storeSampleOutput(std::initializer_list<std::span<const uint8_t>> image);
int32_t storeTextOutput(const TextImage& text);
