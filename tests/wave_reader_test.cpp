// Loading WAV files: the chunk walk and its tree, the record, the loops and
// the information block.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "app/error_state.h"
#include "app/job_options.h"
#include "riff/byte_order.h"
#include "riff/chunk_walk.h"
#include "riff/wave_reader.h"
#include "support/cli_runner.h"
#include "support/test_fixtures.h"
#include "support/wav_builder.h"

namespace {

class WaveReaderTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  WaveFile wave;
  std::string printed;

  void SetUp() override {
    jobOptions = JobOptions{};
    resetErrorState();
    resetChunkWalk();
  }
  void TearDown() override { jobOptions = JobOptions{}; }

  int32_t load(const Bytes& image) {
    writeFileBytes(dir.file("in.wav"), image);
    testing::internal::CaptureStdout();
    int32_t result = waveRead(wave, dir.file("in.wav").c_str());
    printed = testing::internal::GetCapturedStdout();
    return result;
  }
  void expectFailure(const Bytes& image, const char* message) {
    EXPECT_EQ(load(image), -1);
    EXPECT_STREQ(errorMessage, message);
    EXPECT_EQ(errorCode, -5);
    EXPECT_FALSE(wave.fmt || wave.data || wave.fact) << "a failed load keeps nothing";
  }
};

Bytes fmtChunk16() { return chunk("fmt ", pcmFormat(1, 22050, 16)); }

TEST_F(WaveReaderTest, PlainPcmLoadsWithInformationBlock) {
  ASSERT_EQ(load(waveImage({chunk("fmt ", formatContents(1, 1, 44100, 88200, 4, 16)),
                            chunk("data", Bytes(88200, 0))})),
            0);
  EXPECT_EQ(wave.riffFile, nullptr);
  EXPECT_FALSE(wave.fact);
  EXPECT_FALSE(wave.smpl);
  EXPECT_FALSE(wave.info);
  EXPECT_EQ(wave.loopEnd, 0u);
  EXPECT_EQ(readFormat(wave).nBlockAlign, 2) << "PCM block align is recomputed";
  EXPECT_EQ(wave.data.size(), 88200u);
  EXPECT_EQ(printed,
            "\n"
            "Format            = Uncompressed PCM\n"
            "Channels          = 1\n"
            "Samples-per-sec   = 44100\n"
            "AvgBytes-per-sec  = 88200\n"
            "Block Align       = 2\n"
            "Bits-per-sample   = 16\n"
            "Total Samples     = 44100\n"
            "\n");
}

TEST_F(WaveReaderTest, BlockFormatShowsFactCountAndSamplesPerBlock) {
  Bytes fmt = formatContents(0x2000, 1, 22050, 11760, 32, 4);
  appendLE16(fmt, 2);
  appendLE16(fmt, 60);
  ASSERT_EQ(load(waveImage({chunk("fmt ", fmt), chunk("fact", factContents(130)), chunk("data", Bytes(96, 0))})),
            0);
  EXPECT_NE(printed.find("Format            = Orbel ADPCM\n"), std::string::npos);
  EXPECT_NE(printed.find("Total Samples     = 130\nSamples-per-block = 60\n\n"), std::string::npos);
}

TEST_F(WaveReaderTest, UnknownFormatAndStereoTotals) {
  Bytes fmt = formatContents(85, 1, 8000, 1000, 1, 0);
  ASSERT_EQ(load(waveImage({chunk("fmt ", fmt), chunk("fact", factContents(7)), chunk("data", {1})})), 0);
  EXPECT_NE(printed.find("Format            = Unknown\n"), std::string::npos);
  EXPECT_NE(printed.find("Samples-per-block = 0\n"), std::string::npos) << "an 16-byte fmt has no such word";
  ASSERT_EQ(load(waveImage({chunk("fmt ", pcmFormat(2, 8000, 16)), chunk("data", Bytes(4000, 0))})), 0);
  EXPECT_NE(printed.find("Total Samples     = 2000\n"), std::string::npos);
  ASSERT_EQ(load(waveImage({chunk("fmt ", pcmFormat(1, 8000, 0)), chunk("data", Bytes(4, 0))})), 0);
  EXPECT_NE(printed.find("Total Samples     = 0\n"), std::string::npos) << "0 bits per sample";
}

TEST_F(WaveReaderTest, MissingAndUnreadableChunks) {
  expectFailure(waveImage({chunk("data", {1, 2})}), "Quarlix - Missing \"fmt \" chunk !\n");
  expectFailure(waveImage({}), "Quarlix - Missing \"fmt \" chunk !\n");
  expectFailure(waveImage({chunk("fmt ", Bytes(14, 0)), chunk("data", {})}),
                "Quarlix - Unable to read \"fmt \" chunk !\n");
  Bytes ima = formatContents(17, 1, 8000, 4055, 256, 4);
  expectFailure(waveImage({chunk("fmt ", ima), chunk("data", {})}), "Quarlix - Missing \"fact\" chunk !\n");
  expectFailure(waveImage({chunk("fmt ", ima), chunk("fact", {1, 2}), chunk("data", {})}),
                "Quarlix - Unable to read \"fact\" chunk !\n");
  expectFailure(waveImage({fmtChunk16()}), "Quarlix - Missing \"data\" chunk !\n");
  // The stored size runs past the end of the file.
  Bytes cut = waveImage({fmtChunk16(), chunkWithSize("data", 1000, Bytes(10, 0))});
  expectFailure(cut, "Quarlix - Unable to read \"data\" chunk !\n");
  expectFailure(waveImage({fmtChunk16(), chunk("data", {}), chunkWithSize("smpl", 500, {})}),
                "Quarlix - Unable to read \"smpl\" chunk !\n");
  expectFailure(waveImage({fmtChunk16(), chunk("data", {}), chunkWithSize("LIST", 400, {'I', 'N', 'F', 'O'})}),
                "Quarlix - Unable to read \"INFO\" chunk !\n");
  // A form type other than WAVE yields no descriptors at all.
  Bytes avi = chunk("RIFF", concat({{'A', 'V', 'I', ' '}, fmtChunk16(), chunk("data", {})}));
  expectFailure(avi, "Quarlix - Missing \"fmt \" chunk !\n");
}

TEST_F(WaveReaderTest, OpenFailureIsMinusFive) {
  EXPECT_EQ(waveRead(wave, dir.file("absent.wav").c_str()), -5);
  EXPECT_EQ(std::string(errorMessage), "Quarlix - Unable to open file \"" + dir.file("absent.wav") + "\" !\n");
}

TEST_F(WaveReaderTest, LaterChunksReplaceEarlierAndOthersAreDropped) {
  ASSERT_EQ(load(waveImage({chunk("fmt ", pcmFormat(1, 8000, 16)), chunk("cue ", Bytes(6, 1)),
                            chunk("fmt ", pcmFormat(1, 11025, 16)), chunk("fact", factContents(3)),
                            chunk("data", {})})),
            0);
  EXPECT_EQ(readFormat(wave).nSamplesPerSec, 11025u);
  EXPECT_EQ(factSampleCount(wave), 3u) << "PCM keeps a fact chunk when it has one";
  EXPECT_EQ(wave.data.size(), 0u);
  EXPECT_TRUE(wave.data) << "an empty data chunk is present";
}

TEST_F(WaveReaderTest, SampleLoopsAndCommentLoops) {
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), chunk("smpl", smplContents(1, 2, 10, 99))})), 0);
  EXPECT_EQ(wave.loopStart, 10u);
  EXPECT_EQ(wave.loopEnd, 100u);
  EXPECT_EQ(wave.loopType, 2u);
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), chunk("smpl", smplContents(0, 2, 10, 99))})), 0);
  EXPECT_EQ(wave.loopEnd, 0u);
  // A smpl too short for its loop record keeps the chunk and sets nothing.
  Bytes shortSmpl = smplContents(1, 2, 10, 99);
  shortSmpl.resize(48);
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), chunk("smpl", shortSmpl)})), 0);
  EXPECT_EQ(wave.loopEnd, 0u);
  EXPECT_TRUE(wave.smpl);
  // The comment's loop replaces the smpl loop.
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), chunk("smpl", smplContents(1, 2, 10, 99)),
                            infoComment(" \r\n\t0x10 0x1F")})),
            0);
  EXPECT_EQ(wave.loopStart, 16u);
  EXPECT_EQ(wave.loopEnd, 32u);
  EXPECT_EQ(wave.loopType, 0u);
  EXPECT_EQ(wave.info.size(), 4u + 8 + 14);
}

TEST_F(WaveReaderTest, CommentTextRules) {
  uint32_t start = 7, end = 7;
  EXPECT_TRUE(parseCommentLoop("1000 1999", &start, &end));
  EXPECT_EQ(start, 1000u);
  EXPECT_EQ(end, 2000u);
  EXPECT_TRUE(parseCommentLoop("010\n-1 trailing words", &start, &end));
  EXPECT_EQ(start, 8u);
  EXPECT_EQ(end, 0u);
  EXPECT_TRUE(parseCommentLoop("0 2147483647", &start, &end));
  EXPECT_EQ(end, 0x80000000u) << "no signed overflow at the top";
  start = end = 7;
  EXPECT_FALSE(parseCommentLoop("100", &start, &end));
  EXPECT_FALSE(parseCommentLoop("100 2k", &start, &end));
  EXPECT_FALSE(parseCommentLoop("", &start, &end));
  EXPECT_FALSE(parseCommentLoop("x 1", &start, &end));
  EXPECT_EQ(start, 7u);
  EXPECT_EQ(end, 7u);
}

TEST_F(WaveReaderTest, OnlyTheFirstShortCommentCounts) {
  Bytes first = chunk("ICMT", {'5', ' ', '9', 0});
  Bytes second = chunk("ICMT", {'1', ' ', '2', 0});
  Bytes name = chunk("INAM", {'a', 'b', 'c'});  // odd: padded
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), listChunk("LIST", "INFO", concat({name, first, second}))})),
            0);
  EXPECT_EQ(wave.loopStart, 5u);
  EXPECT_EQ(wave.loopEnd, 10u);
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), infoComment(std::string(256, '1'))})), 0);
  EXPECT_EQ(wave.loopEnd, 0u) << "a text over 255 characters is ignored";
  // A text without its zero byte ends with its chunk; a sub-chunk header
  // running past the block ends the search.
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), listChunk("LIST", "INFO", chunk("ICMT", {'3', ' ', '4'}))})),
            0);
  EXPECT_EQ(wave.loopEnd, 5u);
  Bytes broken = concat({chunk("INAM", {}), {'I', 'C'}});
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), listChunk("LIST", "INFO", broken)})), 0);
  EXPECT_EQ(wave.loopEnd, 0u);
  Bytes runaway = chunkWithSize("ICMT", 0x1000, {'6', ' ', '7'});
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), listChunk("LIST", "INFO", runaway)})), 0);
  EXPECT_EQ(wave.loopEnd, 8u);
}

TEST_F(WaveReaderTest, StructureDumpLayout) {
  jobOptions.showStructure = true;
  jobOptions.showInfo = false;
  Bytes image = waveImage({fmtChunk16(), chunk("data", Bytes(32, 0)),
                           listChunk("LIST", "INFO", chunk("INAM", Bytes(12, 'a')))});
  ASSERT_EQ(loadLE32(image.data() + 4), 0x64u);
  ASSERT_EQ(load(image), 0);
  EXPECT_EQ(printed,
            "\nRIFF\nWAVE 0x00000064\n fmt  0x00000010\n data 0x00000020\n\n LIST\n INFO 0x00000018\n"
            "  INAM 0x0000000C\n\n");
}

TEST_F(WaveReaderTest, WalkStoresOnlyDirectChildrenOfWave) {
  jobOptions.showStructure = true;
  jobOptions.showInfo = false;
  Bytes nested = listChunk("LIST", "adtl", chunk("data", Bytes(5, 0)));
  Bytes image = waveImage({fmtChunk16(), nested, chunk("odd ", Bytes(5, 0xAB)), chunk("data", {1, 2})});
  // Bytes after the RIFF chunk are read as more top-level chunks.
  Bytes trailing = concat({image, chunk("tail", Bytes(0xABCD, 0)), {1, 2, 3}});
  ASSERT_EQ(load(trailing), 0);
  EXPECT_EQ(wave.dataChunk.cksize, 2u);
  EXPECT_EQ(wave.infoChunk.ckid, 0u);
  EXPECT_NE(printed.find(" odd  0x00000005\n data 0x00000002\n\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("\n LIST\n adtl 0x00000012\n  data 0x00000005\n\n"), std::string::npos) << printed;
  EXPECT_NE(printed.find("tail 0x0000ABCD\n\n"), std::string::npos) << printed;
  // A data chunk only inside a LIST is not the file's data.
  jobOptions.showStructure = false;
  expectFailure(waveImage({fmtChunk16(), nested}), "Quarlix - Missing \"data\" chunk !\n");
}

TEST_F(WaveReaderTest, WithoutStructureNothingButInformation) {
  jobOptions.showInfo = false;
  ASSERT_EQ(load(monoPcmWave({1, 2, 3})), 0);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(wave.dataChunk.cksize, 6u);
}

TEST_F(WaveReaderTest, RunawaySizesEndTheWalkSafely) {
  jobOptions.showInfo = false;
  // The RIFF size overstates the file: walked as far as the data goes.
  Bytes body = concat({{'W', 'A', 'V', 'E'}, fmtChunk16(), chunk("data", {1, 2})});
  ASSERT_EQ(load(chunkWithSize("RIFF", 0xFFFFFFFF, body)), 0);
  EXPECT_EQ(wave.dataChunk.cksize, 2u);
  // A chunk whose end lies beyond every position ends its level; the data
  // chunk stored before it is read.
  Bytes huge = waveImage({fmtChunk16(), chunk("data", {7, 0}), chunkWithSize("junk", 0xFFFFFFF0, {})});
  ASSERT_EQ(load(huge), 0);
  EXPECT_EQ(wave.data.size(), 2u);
  // A data chunk that runs past the end of the file is no data.
  expectFailure(waveImage({fmtChunk16(), chunkWithSize("data", 0x90000000, {1, 2})}),
                "Quarlix - Unable to read \"data\" chunk !\n");
}

// Valid files followed by bytes that are no chunk, through the binary: the
// tree shows the stray header, the audio is written back alone.
class TrailingBytesTest : public ScratchCliTest {};

TEST_F(TrailingBytesTest, AudioFollowedByJunkLoads) {
  const Bytes audio = monoPcmWave({1, -2, 3, -4});  // RIFF size 0x2C
  const std::string head = "\nRIFF\nWAVE 0x0000002C\n fmt  0x00000010\n data 0x00000008\n\n";
  struct Case {
    const char* name;
    Bytes image;
    std::string tree;
  };
  Bytes withId3 = waveImage({chunk("fmt ", pcmFormat(1, 22050, 16)), chunk("data", pcm16Contents({1, -2, 3, -4})),
                             chunkWithSize("id3 ", 0x90000000, Bytes(10, 'I'))});
  // A streamed file's RIFF size: the id3 size must not wrap past its end.
  Bytes streamed = withId3;
  std::fill(streamed.begin() + 4, streamed.begin() + 8, 0xFF);
  const Case cases[] = {
      {"flash padding", concat({audio, Bytes(16, 0xFF)}), head + "\xFF\xFF\xFF\xFF 0xFFFFFFFF\n\n"},
      {"id3 after data", withId3,
       "\nRIFF\nWAVE 0x0000003E\n fmt  0x00000010\n data 0x00000008\n id3  0x90000000\n\n"},
      {"streamed, id3 after data", streamed,
       "\nRIFF\nWAVE 0xFFFFFFFF\n fmt  0x00000010\n data 0x00000008\n id3  0x90000000\n\n"},
      {"junk after RIFF", concat({audio, chunkWithSize("junk", 0x80000000, Bytes(6, 0))}),
       head + "junk 0x80000000\n\n"},
  };
  ::mkdir(dir.file("in").c_str(), 0755);
  for (const Case& c : cases) {
    writeFileBytes(dir.file("in/a.wav"), c.image);
    CliResult result = run({"-vf", "-ow", "in/a.wav"});
    EXPECT_EQ(result.status, 0) << c.name << result.output;
    EXPECT_EQ(result.output.substr(0, std::string(kBanner).size() + c.tree.size()), kBanner + c.tree) << c.name;
    EXPECT_NE(result.output.find("Total Samples     = 4\n\n" + std::string(kCompleted)), std::string::npos)
        << c.name;
    EXPECT_EQ(readFileBytes(dir.file("a.wav")), audio) << c.name;
  }
  // A data chunk that runs past the end still fails, after its tree.
  writeFileBytes(dir.file("in/a.wav"), waveImage({chunk("fmt ", pcmFormat(1, 22050, 16)),
                                                  chunkWithSize("data", 0x80000000, Bytes(8, 0))}));
  CliResult cut = run({"-vf", "in/a.wav"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.output, std::string(kBanner) + "\nRIFF\nWAVE 0x0000002C\n fmt  0x00000010\n data 0x80000000\n\n" +
                            "Quarlix - Unable to read \"data\" chunk !\n\n");
}

TEST_F(WaveReaderTest, DeepNestingIsRefused) {
  jobOptions.showInfo = false;
  Bytes inner = chunk("data", {});
  for (int i = 0; i < 14; ++i) inner = listChunk("LIST", "deep", inner);
  ASSERT_EQ(load(waveImage({fmtChunk16(), chunk("data", {}), inner})), 0) << "15 levels fit";
  inner = listChunk("LIST", "deep", inner);
  expectFailure(waveImage({fmtChunk16(), chunk("data", {}), inner}), "Quarlix - Chunks nested too deep !\n");
}

}  // namespace
