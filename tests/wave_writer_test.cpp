// Writing records back as WAV files: layout, order, padding and the
// 1 MiB limit, with nothing stored when writing fails.
#include <gtest/gtest.h>

#include "app/error_state.h"
#include "app/job_options.h"
#include "riff/byte_order.h"
#include "riff/wave_reader.h"
#include "riff/wave_writer.h"
#include "support/cli_runner.h"
#include "support/wav_builder.h"

namespace {

class WaveWriterTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  WaveFile wave;
  void SetUp() override {
    jobOptions = JobOptions{};
    jobOptions.showInfo = false;
    resetErrorState();
  }
  void TearDown() override { jobOptions = JobOptions{}; }
  void load(const Bytes& image) {
    writeFileBytes(dir.file("in.wav"), image);
    ASSERT_EQ(waveRead(wave, dir.file("in.wav").c_str()), 0);
  }
  int32_t write(const std::string& name = "out.wav") { return waveWrite(wave, dir.file(name).c_str()); }
};

TEST_F(WaveWriterTest, PcmFileLayout) {
  Bytes samples(1000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 7);
  Bytes image = waveImage({chunk("fmt ", pcmFormat(1, 22050, 16)), chunk("data", samples)});
  load(image);
  ASSERT_EQ(write(), 0);
  EXPECT_EQ(wave.riffFile, nullptr);
  Bytes out = readFileBytes(dir.file("out.wav"));
  ASSERT_EQ(out.size(), 1044u);
  EXPECT_EQ(loadLE32(out.data() + 4), 1036u);
  EXPECT_EQ(out, image);
}

TEST_F(WaveWriterTest, OddDataIsPaddedAndCounted) {
  load(waveImage({chunk("fmt ", pcmFormat(1, 8000, 16)), chunk("data", Bytes(999, 3))}));
  ASSERT_EQ(write(), 0);
  Bytes out = readFileBytes(dir.file("out.wav"));
  ASSERT_EQ(out.size(), 12u + 24 + 8 + 1000);
  EXPECT_EQ(loadLE32(out.data() + 40), 999u);
  EXPECT_EQ(out.back(), 0);
  EXPECT_EQ(loadLE32(out.data() + 4), out.size() - 8);
}

TEST_F(WaveWriterTest, FixedChunkOrderDropsOthersAndKeepsInfoBytes) {
  Bytes info = listChunk("LIST", "INFO", concat({chunk("INAM", {'h', 'i', 0}), chunk("ICMT", {'1', ' ', '5', 0})}));
  Bytes smpl = chunk("smpl", smplContents(1, 0, 2, 3));
  Bytes data = chunk("data", {1, 0, 2, 0});
  Bytes fact = chunk("fact", factContents(2));
  // The input lists them out of order, with a cue chunk and a PCM block
  // align of 4 that the reader mends.
  Bytes image = waveImage({info, chunk("cue ", Bytes(4, 0)), data, smpl, fact,
                           chunk("fmt ", formatContents(1, 1, 8000, 16000, 4, 16))});
  load(image);
  ASSERT_EQ(write(), 0);
  Bytes expected = waveImage({chunk("fmt ", formatContents(1, 1, 8000, 16000, 2, 16)), fact, data, smpl, info});
  EXPECT_EQ(readFileBytes(dir.file("out.wav")), expected);
}

TEST_F(WaveWriterTest, LargestFileFitsAndOneByteMoreFails) {
  load(waveImage({chunk("fmt ", pcmFormat(1, 8000, 16)), chunk("data", Bytes(1048532, 1))}));
  ASSERT_EQ(write(), 0);
  EXPECT_EQ(readFileBytes(dir.file("out.wav")).size(), 1048576u);

  load(waveImage({chunk("fmt ", pcmFormat(1, 8000, 16)), chunk("data", Bytes(1048533, 1))}));
  writeFileBytes(dir.file("keep.wav"), {1, 2, 3});
  EXPECT_EQ(write("keep.wav"), -1);
  EXPECT_STREQ(errorMessage, "Quarlix - Unable the write chunk !\n");
  EXPECT_EQ(errorCode, -6);
  EXPECT_EQ(readFileBytes(dir.file("keep.wav")), (Bytes{1, 2, 3})) << "a failed write keeps the old file";
  EXPECT_FALSE(fileExists(dir.file("fresh.wav")));
  EXPECT_EQ(write("fresh.wav"), -1);
  EXPECT_FALSE(fileExists(dir.file("fresh.wav"))) << "and leaves no partial file";
}

TEST_F(WaveWriterTest, MissingVitalChunkWritesNothing) {
  load(monoPcmWave({1, 2}));
  wave.dataChunk.ckid = 0;
  EXPECT_EQ(write(), -6);
  EXPECT_STREQ(errorMessage, "Quarlix - Output file is missing vital RIFF chunk !\n");
  EXPECT_FALSE(fileExists(dir.file("out.wav")));
}

TEST_F(WaveWriterTest, UncreatablePathIsAWriteFailure) {
  load(monoPcmWave({1, 2}));
  EXPECT_EQ(write("no/such/dir.wav"), -1);
  EXPECT_STREQ(errorMessage, "Quarlix - Unable the write chunk !\n");
}

}  // namespace
