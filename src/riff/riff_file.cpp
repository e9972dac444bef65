#include "riff/riff_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "host/host.h"
#include "riff/byte_order.h"

namespace {

constexpr uint32_t kAccessMask = 3;
constexpr uint32_t kRefusedFlags = 0x24300;

uint32_t accessMode(const RiffFile* file) { return file->openFlags & kAccessMask; }

RiffFile* newHandle(const char* name, uint32_t flags) {
  if (std::strlen(name) >= kRiffFileNameCapacity) return nullptr;
  RiffFile* file = new (std::nothrow) RiffFile;
  if (file == nullptr) return nullptr;
  file->openFlags = flags;
  std::strcpy(file->fileName, name);
  return file;
}

}  // namespace

bool riffReadInput(const char* name, size_t prefix, InputImage& input) {
  input = {};
  HostInput file;
  if (!hostOpenInput(name, file)) return false;
  bool holdable = file.size <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) &&
                  input.bytes.allocateUnfilled(static_cast<size_t>(file.size));
  if (!holdable && !input.bytes.allocateUnfilled(std::min<uint64_t>(prefix, file.size))) {
    hostCloseInput(file);
    return false;
  }
  int64_t got = hostReadInput(file, input.bytes.data(), input.bytes.size());
  hostCloseInput(file);
  if (got < 0) {
    input.bytes.reset();
    return false;
  }
  input.whole = holdable && static_cast<uint64_t>(got) == file.size;
  input.bytes.narrow(0, static_cast<size_t>(got));
  return true;
}

RiffFile* riffOpenImage(const char* name, HeapBlock image) {
  RiffFile* file = newHandle(name, kRiffReaderFlags);
  if (file == nullptr) return nullptr;
  file->buffer = std::move(image);
  file->dataEnd = file->bufferEnd = static_cast<int64_t>(file->buffer.size());
  return file;
}

RiffFile* riffOpen(const char* name, uint32_t flags, int64_t capacity) {
  uint32_t mode = flags & kAccessMask;
  if (mode == 2 || (flags & kRefusedFlags) != 0) return nullptr;
  if (std::strlen(name) >= kRiffFileNameCapacity) return nullptr;
  if (mode == RIFF_READ) {
    InputImage input;
    if (!riffReadInput(name, 0, input) || !input.whole) return nullptr;
    RiffFile* file = riffOpenImage(name, std::move(input.bytes));
    if (file != nullptr) file->openFlags = flags;
    return file;
  }
  if (mode != RIFF_WRITE || (flags & RIFF_CREATE) == 0) return nullptr;
  RiffFile* file = newHandle(name, flags);
  // Every byte up to dataEnd is written before it is stored (riffWrite
  // fills any gap a seek leaves), so the buffer is not cleared first.
  size_t size = static_cast<size_t>(std::clamp<int64_t>(capacity, 0, kRiffWriteBufferSize));
  if (file == nullptr || !file->buffer.allocateUnfilled(size)) {
    delete file;
    return nullptr;
  }
  file->bufferEnd = static_cast<int64_t>(size);
  return file;
}

int32_t riffClose(RiffFile* file) {
  int32_t result = 0;
  if (accessMode(file) == RIFF_WRITE &&
      !hostReplaceFile(file->fileName, {{file->buffer.data(), static_cast<size_t>(file->dataEnd)}})) {
    result = RIFFERR_CANNOTWRITE;
  }
  delete file;
  return result;
}

void riffDiscard(RiffFile* file) { delete file; }

int64_t riffSeek(RiffFile* file, int64_t offset, int origin) {
  int64_t target;
  switch (origin) {
    case 0: target = offset; break;
    case 1: target = file->cursor + offset; break;
    case 2: target = file->dataEnd + offset; break;
    default: target = file->cursor; break;
  }
  if (target < std::numeric_limits<int32_t>::min() || target > std::numeric_limits<int32_t>::max()) {
    return -1;
  }
  file->cursor = target;
  return target;
}

int64_t riffRead(RiffFile* file, void* destination, uint32_t count) {
  if (accessMode(file) == RIFF_WRITE || file->cursor < 0) return -1;
  if (file->cursor >= file->dataEnd) return 0;
  int64_t n = std::min<int64_t>(count, file->dataEnd - file->cursor);
  std::memcpy(destination, file->buffer.data() + file->cursor, static_cast<size_t>(n));
  file->cursor += n;
  return n;
}

int64_t riffWrite(RiffFile* file, const void* source, uint32_t count) {
  if (accessMode(file) == RIFF_READ || file->cursor < 0) return -1;
  if (file->cursor >= file->bufferEnd) return 0;
  int64_t n = std::min<int64_t>(count, file->bufferEnd - file->cursor);
  // A write after a seek past the data: the bytes between are zero.
  if (file->cursor > file->dataEnd) {
    std::memset(file->buffer.data() + file->dataEnd, 0, static_cast<size_t>(file->cursor - file->dataEnd));
  }
  std::memcpy(file->buffer.data() + file->cursor, source, static_cast<size_t>(n));
  file->cursor += n;
  if (file->cursor > file->dataEnd) file->dataEnd = file->cursor;
  return n;
}

namespace {

bool readWord(RiffFile* file, uint32_t* word) {
  uint8_t bytes[4];
  if (riffRead(file, bytes, 4) != 4) return false;
  *word = loadLE32(bytes);
  return true;
}

bool writeWord(RiffFile* file, uint32_t word) {
  uint8_t bytes[4];
  storeLE32(bytes, word);
  return riffWrite(file, bytes, 4) == 4;
}

}  // namespace

int32_t riffDescend(RiffFile* file, ChunkInfo* chunk, const ChunkInfo* parent, uint32_t flags) {
  uint32_t wantedId = 0;
  uint32_t wantedType = 0;
  if (flags & RIFF_FINDCHUNK) {
    wantedId = chunk->ckid;
  } else if (flags & RIFF_FINDRIFF) {
    wantedId = kFourCCRiff;
    wantedType = chunk->fccType;
  } else if (flags & RIFF_FINDLIST) {
    wantedId = kFourCCList;
    wantedType = chunk->fccType;
  }
  chunk->flags = 0;

  for (;;) {
    if (!readWord(file, &chunk->ckid) || !readWord(file, &chunk->cksize)) return RIFFERR_CHUNKNOTFOUND;
    // A header is only read at a non-negative cursor, so the position fits.
    chunk->dataOffset = static_cast<uint32_t>(file->cursor);
    // Measured in 64 bits: a stated size past 4 GiB must not wrap round to
    // an early end.
    if (parent != nullptr &&
        static_cast<uint64_t>(parent->dataOffset) + parent->cksize <= chunk->dataOffset - 8ull) {
      return RIFFERR_CHUNKNOTFOUND;
    }
    if (chunk->ckid == kFourCCRiff || chunk->ckid == kFourCCList) {
      if (!readWord(file, &chunk->fccType)) return RIFFERR_CHUNKNOTFOUND;
    } else {
      chunk->fccType = 0;
    }
    if ((wantedId == 0 || wantedId == chunk->ckid) && (wantedType == 0 || wantedType == chunk->fccType)) {
      return 0;
    }
    int32_t result = riffAscend(file, chunk);
    if (result != 0) return result;
  }
}

int32_t riffAscend(RiffFile* file, ChunkInfo* chunk) {
  if (chunk->flags & RIFF_DIRTY) {
    int64_t length = file->cursor - static_cast<int64_t>(chunk->dataOffset);
    if (length < 0 || length > std::numeric_limits<uint32_t>::max()) return RIFFERR_CANNOTWRITE;
    if (length & 1) {
      const uint8_t pad = 0;
      if (riffWrite(file, &pad, 1) != 1) return RIFFERR_CANNOTWRITE;
    }
    if (chunk->cksize != static_cast<uint32_t>(length)) {
      chunk->cksize = static_cast<uint32_t>(length);
      if (riffSeek(file, static_cast<int64_t>(chunk->dataOffset) - 4, 0) == -1) return RIFFERR_CANNOTSEEK;
      if (!writeWord(file, chunk->cksize)) return RIFFERR_CANNOTWRITE;
    }
  }
  if (riffSeek(file, riffChunkEnd(*chunk), 0) == -1) return RIFFERR_CANNOTSEEK;
  return 0;
}

int32_t riffCreateChunk(RiffFile* file, ChunkInfo* chunk, uint32_t flags) {
  int64_t position = riffSeek(file, 0, 1);
  if (position < 0 || position + 8 > std::numeric_limits<uint32_t>::max()) return RIFFERR_CANNOTSEEK;
  chunk->dataOffset = static_cast<uint32_t>(position + 8);
  uint32_t headerLength = 8;
  if (flags & RIFF_CREATERIFF) {
    chunk->ckid = kFourCCRiff;
    headerLength = 12;
  } else if (flags & RIFF_CREATELIST) {
    chunk->ckid = kFourCCList;
    headerLength = 12;
  }
  uint8_t header[12];
  storeLE32(header, chunk->ckid);
  storeLE32(header + 4, chunk->cksize);
  storeLE32(header + 8, chunk->fccType);
  if (riffWrite(file, header, headerLength) != headerLength) return RIFFERR_CANNOTWRITE;
  chunk->flags = RIFF_DIRTY;
  return 0;
}
