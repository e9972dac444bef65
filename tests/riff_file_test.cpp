// The chunk layer on real file images: descend, ascend, create, the write
// buffer's limit and what reaches the disk.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "riff/byte_order.h"
#include "riff/riff_file.h"
#include "support/cli_runner.h"
#include "support/wav_builder.h"

namespace {

class RiffFileTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  RiffFile* openImage(const Bytes& image) {
    writeFileBytes(dir.file("in.riff"), image);
    return riffOpen(dir.file("in.riff").c_str(), kRiffReaderFlags);
  }
  RiffFile* openOutput(const std::string& name = "out.riff") {
    return riffOpen(dir.file(name).c_str(), kRiffWriterFlags);
  }
};

TEST_F(RiffFileTest, OpenRefusesBadFlagsAndMissingFiles) {
  writeFileBytes(dir.file("x"), {1, 2, 3});
  const std::string name = dir.file("x");
  EXPECT_EQ(riffOpen(name.c_str(), 2), nullptr);
  EXPECT_EQ(riffOpen(name.c_str(), 0x100), nullptr);
  EXPECT_EQ(riffOpen(name.c_str(), 0x20000), nullptr);
  EXPECT_EQ(riffOpen(name.c_str(), RIFF_WRITE), nullptr);  // write needs create
  EXPECT_EQ(riffOpen(name.c_str(), 3 | RIFF_CREATE), nullptr);
  EXPECT_EQ(riffOpen(dir.file("missing").c_str(), RIFF_READ), nullptr);
  EXPECT_EQ(riffOpen(dir.path().c_str(), RIFF_READ), nullptr);  // a directory is no file
  std::string longName(300, 'a');
  EXPECT_EQ(riffOpen(longName.c_str(), RIFF_READ), nullptr);
  RiffFile* file = riffOpen(name.c_str(), kRiffReaderFlags);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->dataEnd, 3);
  EXPECT_EQ(riffClose(file), 0);
}

TEST_F(RiffFileTest, EmptyFileHasNoChunk) {
  RiffFile* file = openImage({});
  ASSERT_NE(file, nullptr);
  ChunkInfo chunk{};
  EXPECT_EQ(riffDescend(file, &chunk, nullptr, 0), RIFFERR_CHUNKNOTFOUND);
  riffClose(file);
}

TEST_F(RiffFileTest, DescendPastOddChunkSkipsPad) {
  Bytes image = concat({chunk("abcd", {1, 2, 3}), chunk("efgh", {9})});
  ASSERT_EQ(image.size(), 22u);
  RiffFile* file = openImage(image);
  ChunkInfo chunk{};
  ASSERT_EQ(riffDescend(file, &chunk, nullptr, 0), 0);
  EXPECT_EQ(chunk.ckid, fourCC("abcd"));
  EXPECT_EQ(chunk.cksize, 3u);
  EXPECT_EQ(chunk.dataOffset, 8u);
  EXPECT_EQ(chunk.fccType, 0u);
  ASSERT_EQ(riffAscend(file, &chunk), 0);
  EXPECT_EQ(riffSeek(file, 0, 1), 12);
  chunk.ckid = fourCC("efgh");
  ASSERT_EQ(riffDescend(file, &chunk, nullptr, RIFF_FINDCHUNK), 0);
  EXPECT_EQ(chunk.dataOffset, 20u);
  riffClose(file);
}

TEST_F(RiffFileTest, FindFlagsSkipOtherChunks) {
  Bytes image = concat({chunk("junk", {0, 0}), listChunk("LIST", "adtl", {}), listChunk("LIST", "INFO", {}),
                        chunk("data", {7})});
  RiffFile* file = openImage(image);
  ChunkInfo chunk{};
  chunk.fccType = fourCC("INFO");
  ASSERT_EQ(riffDescend(file, &chunk, nullptr, RIFF_FINDLIST), 0);
  EXPECT_EQ(chunk.ckid, kFourCCList);
  EXPECT_EQ(chunk.fccType, fourCC("INFO"));
  EXPECT_EQ(riffSeek(file, 0, 1), 10 + 12 + 12);  // cursor at the first sub-chunk
  chunk.ckid = fourCC("nope");
  EXPECT_EQ(riffDescend(file, &chunk, nullptr, RIFF_FINDCHUNK), RIFFERR_CHUNKNOTFOUND);
  riffClose(file);
}

TEST_F(RiffFileTest, ParentOfTypeOnlyHasNoChildren) {
  Bytes image = concat({listChunk("LIST", "INFO", {}), chunk("data", {1, 2})});
  RiffFile* file = openImage(image);
  ChunkInfo parent{}, child{};
  ASSERT_EQ(riffDescend(file, &parent, nullptr, 0), 0);
  EXPECT_EQ(parent.cksize, 4u);
  EXPECT_EQ(riffDescend(file, &child, &parent, 0), RIFFERR_CHUNKNOTFOUND);
  riffClose(file);
}

TEST_F(RiffFileTest, HugeStatedSizesDoNotWrapRound) {
  // A streamed file's RIFF size of 0xFFFFFFFF: its children are still found.
  Bytes image = chunkWithSize("RIFF", 0xFFFFFFFF, concat({{'W', 'A', 'V', 'E'}, chunk("fmt ", {1, 2})}));
  RiffFile* file = openImage(image);
  ChunkInfo parent{}, child{};
  ASSERT_EQ(riffDescend(file, &parent, nullptr, 0), 0);
  ASSERT_EQ(riffDescend(file, &child, &parent, 0), 0);
  EXPECT_EQ(child.ckid, kFourCCFmt);
  // A plain chunk whose end lies beyond any position cannot be left.
  child.cksize = 0xFFFFFFF0;
  child.dataOffset = 0x7FFFFFF0;
  EXPECT_EQ(riffAscend(file, &child), RIFFERR_CANNOTSEEK);
  riffClose(file);
}

TEST_F(RiffFileTest, ReadAndSeekBounds) {
  RiffFile* file = openImage({1, 2, 3, 4});
  uint8_t bytes[8] = {};
  EXPECT_EQ(riffSeek(file, -2, 2), 2);
  EXPECT_EQ(riffRead(file, bytes, 8), 2);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(riffRead(file, bytes, 8), 0);
  EXPECT_EQ(riffSeek(file, 100, 0), 100);
  EXPECT_EQ(riffRead(file, bytes, 1), 0);
  EXPECT_EQ(riffSeek(file, -5, 0), -5);
  EXPECT_EQ(riffRead(file, bytes, 1), -1);
  EXPECT_EQ(riffWrite(file, bytes, 1), -1);  // read mode
  EXPECT_EQ(riffSeek(file, 0x80000000LL, 0), -1);
  EXPECT_EQ(riffSeek(file, 0, 1), -5);  // a refused seek leaves the cursor
  riffClose(file);
}

TEST_F(RiffFileTest, CreatedChunkGetsPadAndSize) {
  RiffFile* file = openOutput();
  ASSERT_NE(file, nullptr);
  ChunkInfo chunk{fourCC("abcd"), 0, 0, 0, 0};
  ASSERT_EQ(riffCreateChunk(file, &chunk, 0), 0);
  EXPECT_EQ(chunk.flags, RIFF_DIRTY);
  EXPECT_EQ(chunk.dataOffset, 8u);
  ASSERT_EQ(riffWrite(file, "xyz", 3), 3);
  ASSERT_EQ(riffAscend(file, &chunk), 0);
  EXPECT_EQ(chunk.cksize, 3u);
  EXPECT_EQ(riffSeek(file, 0, 1), 12);
  uint8_t dummy = 0;
  EXPECT_EQ(riffRead(file, &dummy, 1), -1);  // write mode
  ASSERT_EQ(riffClose(file), 0);
  EXPECT_EQ(readFileBytes(dir.file("out.riff")), (Bytes{'a', 'b', 'c', 'd', 3, 0, 0, 0, 'x', 'y', 'z', 0}));
}

TEST_F(RiffFileTest, RiffAroundFormatChunkAscendsTo28) {
  RiffFile* file = openOutput();
  ChunkInfo riff{0, 0, kFourCCWave, 0, 0};
  ASSERT_EQ(riffCreateChunk(file, &riff, RIFF_CREATERIFF), 0);
  ChunkInfo fmt{kFourCCFmt, 16, 0, 0, 0};
  ASSERT_EQ(riffCreateChunk(file, &fmt, 0), 0);
  Bytes contents(16, 0x55);
  ASSERT_EQ(riffWrite(file, contents.data(), 16), 16);
  ASSERT_EQ(riffAscend(file, &fmt), 0);
  ASSERT_EQ(riffAscend(file, &riff), 0);
  EXPECT_EQ(riff.cksize, 28u);
  ASSERT_EQ(riffClose(file), 0);
  Bytes image = readFileBytes(dir.file("out.riff"));
  ASSERT_EQ(image.size(), 36u);
  EXPECT_EQ(loadLE32(image.data() + 4), 28u);
  EXPECT_EQ(loadLE32(image.data() + 8), kFourCCWave);
}

TEST_F(RiffFileTest, WriteBufferHoldsOneMebibyte) {
  RiffFile* file = openOutput();
  Bytes block(600000, 1);
  EXPECT_EQ(riffWrite(file, block.data(), 600000), 600000);
  EXPECT_EQ(riffWrite(file, block.data(), 600000), 1048576 - 600000);
  EXPECT_EQ(riffWrite(file, block.data(), 1), 0);
  riffSeek(file, 10, 0);
  EXPECT_EQ(riffWrite(file, block.data(), 4), 4);
  EXPECT_EQ(file->dataEnd, 1048576);  // an overwrite never lowers the end
  riffDiscard(file);
  EXPECT_FALSE(fileExists(dir.file("out.riff")));
}

TEST_F(RiffFileTest, CloseFailureKeepsExistingFileAndReleases) {
  // A directory where the file should go cannot be replaced.
  ::mkdir(dir.file("taken").c_str(), 0755);
  RiffFile* file = openOutput("taken");
  riffWrite(file, "abc", 3);
  EXPECT_EQ(riffClose(file), RIFFERR_CANNOTWRITE);
  RiffFile* missing = riffOpen(dir.file("no/such/dir").c_str(), kRiffWriterFlags);
  EXPECT_EQ(riffClose(missing), RIFFERR_CANNOTWRITE);
  // An existing file is replaced whole, and an empty image gives an empty file.
  writeFileBytes(dir.file("old"), Bytes(100, 9));
  RiffFile* empty = openOutput("old");
  EXPECT_EQ(riffClose(empty), 0);
  EXPECT_TRUE(readFileBytes(dir.file("old")).empty());
}

}  // namespace
