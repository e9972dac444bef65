// Chunk-level access to a RIFF file held whole in memory. Input files are read
// in one piece at open; output files are assembled in a fixed buffer and reach
// the disk in one piece at close. Nothing here prints or reports: callers do.
#pragma once

#include <cstdint>

#include "riff/heap_block.h"

inline constexpr uint32_t RIFF_READ = 0;
inline constexpr uint32_t RIFF_WRITE = 1;
inline constexpr uint32_t RIFF_CREATE = 0x1000;
inline constexpr uint32_t RIFF_FINDCHUNK = 0x10;
inline constexpr uint32_t RIFF_FINDRIFF = 0x20;
inline constexpr uint32_t RIFF_FINDLIST = 0x40;
inline constexpr uint32_t RIFF_CREATERIFF = 0x20;
inline constexpr uint32_t RIFF_CREATELIST = 0x40;
inline constexpr uint32_t RIFF_DIRTY = 0x10000000;
inline constexpr int32_t RIFFERR_CANNOTWRITE = 262;
inline constexpr int32_t RIFFERR_CANNOTSEEK = 263;
inline constexpr int32_t RIFFERR_CHUNKNOTFOUND = 265;

inline constexpr uint32_t kRiffReaderFlags = 0x10010;
inline constexpr uint32_t kRiffWriterFlags = 0x11011;
inline constexpr int64_t kRiffWriteBufferSize = 1048576;
inline constexpr int kRiffFileNameCapacity = 264;

struct ChunkInfo {
  uint32_t ckid;
  uint32_t cksize;      // data bytes, pad excluded; RIFF/LIST count their type
  uint32_t fccType;     // RIFF/LIST form or list type, else 0
  uint32_t dataOffset;  // first data byte; for RIFF/LIST the type field
  uint32_t flags;       // RIFF_DIRTY while a created chunk awaits its ascend
};

// Positions are byte offsets from the start of the image. They may lie before
// the start or past the end; reads and writes there are refused or empty.
struct RiffFile {
  HeapBlock buffer;
  int64_t cursor = 0;
  int64_t dataEnd = 0;
  int64_t bufferEnd = 0;
  uint32_t openFlags = 0;
  char fileName[kRiffFileNameCapacity] = {};
};

// Null when refused: bad flags or mode, a name of 264 characters or more, an
// input that is missing, not a regular file, over 2 GiB or short; no memory.
// `capacity` bounds a write-mode image below the fixed 1,048,576 bytes, for
// a caller that knows how much it will write: the buffer is never larger.
RiffFile* riffOpen(const char* name, uint32_t flags, int64_t capacity = kRiffWriteBufferSize);

// An input file read with one read. `whole` tells whether `bytes` holds the
// entire file; when it cannot be held (over 2 GiB, memory short) only its
// first `prefix` bytes are read, and when the file is cut short while it is
// read, what came before the end.
struct InputImage {
  HeapBlock bytes;
  bool whole = false;
};

// False when the name opens no regular file, or reading fails.
bool riffReadInput(const char* name, size_t prefix, InputImage& input);

// A read-mode handle on a whole file already read (riffReadInput), which
// then owns the image. Null for a name of 264 characters or more.
RiffFile* riffOpenImage(const char* name, HeapBlock image);

// Releases the handle in every case. Write mode stores the image under the
// file's name, replacing an existing file only once the image is complete.
int32_t riffClose(RiffFile* file);

// Releases the handle without touching the disk: the abandoned output leaves
// any existing file as it was.
void riffDiscard(RiffFile* file);

// origin 0: from the start, 1: from the cursor, 2: from the end of the data.
// Returns the new position, or -1 for a position outside the signed 32-bit
// range (the cursor then stays where it was).
int64_t riffSeek(RiffFile* file, int64_t offset, int origin);

int64_t riffRead(RiffFile* file, void* destination, uint32_t count);
int64_t riffWrite(RiffFile* file, const void* source, uint32_t count);

// The position just past a chunk and its pad byte; it can lie far beyond
// the image when the stated size does.
inline int64_t riffChunkEnd(const ChunkInfo& chunk) {
  return static_cast<int64_t>(chunk.dataOffset) + chunk.cksize + (chunk.cksize & 1);
}

int32_t riffDescend(RiffFile* file, ChunkInfo* chunk, const ChunkInfo* parent, uint32_t flags);
int32_t riffAscend(RiffFile* file, ChunkInfo* chunk);
int32_t riffCreateChunk(RiffFile* file, ChunkInfo* chunk, uint32_t flags);
