// The device decoder library on the images quarlix writes: for every sample
// type and block size, what it reads from the -ob image is exactly what
// `quarlix -d` decodes, in reads of any size and looped across many
// passes; and hostile images are refused or bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "quarlix_decode.h"
#include "support/cli_runner.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

namespace {

struct ImageCase {
  const char* codec;  // the -c option; nullptr: 16-bit PCM as it is
  int blockSize;      // -b; 0: the codec's default
  size_t samples;     // never a whole number of blocks
};

void PrintTo(const ImageCase& c, std::ostream* out) {
  *out << (c.codec != nullptr ? c.codec : "PCM") << " -b" << c.blockSize << ", " << c.samples << " samples";
}

// Speech-like material, then the hardest there is (full-scale jumps, a
// full-scale square, lone clicks), then a sweep.
Samples material(size_t count, uint32_t seed) {
  Samples out = speechLikeBursts(count / 2, 22050, seed);
  for (const Samples& part : {fullScaleRandomSigns(count / 8, seed), fullScaleSquare(count / 8, 7),
                              silenceWithClicks(count / 8, 97, -32768)}) {
    out.insert(out.end(), part.begin(), part.end());
  }
  Samples sweep = linearChirp(count - out.size(), 22050, 50, 11000, 30000);
  out.insert(out.end(), sweep.begin(), sweep.end());
  return out;
}

// Reads the whole image in reads of changing odd sizes.
Samples readInChunks(qx_decoder& decoder, size_t expected) {
  const size_t sizes[] = {1, 7, 13, 251, 2, 1000, 3};
  Samples out(expected + 1, 0);
  size_t done = 0;
  for (size_t k = 0;; ++k) {
    size_t want = std::min(sizes[k % std::size(sizes)], out.size() - done);
    size_t got = qx_read(&decoder, out.data() + done, want);
    EXPECT_LE(got, want);
    done += got;
    if (got < want) break;
  }
  out.resize(done);
  return out;
}

// The straight samples up to loop_end, then the loop again and again.
Samples loopedExpectation(const Samples& straight, size_t start, size_t end, size_t total) {
  Samples out(straight.begin(), straight.begin() + static_cast<long>(end));
  while (out.size() < total) out.push_back(straight[start + (out.size() - end) % (end - start)]);
  return out;
}

class ImageDecoding : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageDecoding, LibraryReadsWhatQuarlixDecodes) {
  const ImageCase& c = GetParam();
  ScratchDir dir;
  Samples input = material(c.samples, static_cast<uint32_t>(c.samples));
  // A loop that starts and ends inside blocks (and runs across several).
  size_t loopStart = c.samples / 3 + 7;
  size_t loopEnd = c.samples - c.samples / 5;
  writeFileBytes(dir.file("in.wav"),
                 waveImage({chunk("fmt ", pcmFormat(1, 22050, 16)), chunk("data", pcm16Contents(input)),
                            chunk("smpl", smplContents(1, 0, static_cast<uint32_t>(loopStart),
                                                       static_cast<uint32_t>(loopEnd - 1)))}));
  std::vector<std::string> codec;
  if (c.codec != nullptr) codec.push_back(c.codec);
  if (c.blockSize != 0) codec.push_back("-b" + std::to_string(c.blockSize));
  std::vector<std::string> toImage = codec, toPcm = codec;
  toImage.insert(toImage.end(), {"-ob", "in.wav"});
  toPcm.insert(toPcm.end(), {"-d", "../in.wav"});
  std::filesystem::create_directory(dir.file("dec"));
  CliResult image = runQuarlixIn(dir.path(), toImage);
  ASSERT_EQ(image.status, 0) << image.output;
  CliResult decoded = runQuarlixIn(dir.file("dec"), toPcm);
  ASSERT_EQ(decoded.status, 0) << decoded.output;
  Bytes pcm = chunkContents(readFileBytes(dir.file("dec/in.wav")), "data");
  Samples expected = pcm16FromBytes(pcm.data(), pcm.size() / 2);
  ASSERT_EQ(expected.size(), c.samples);

  // An exact copy of the file, so the sanitizer build sees any read past it.
  Bytes bytes = readFileBytes(dir.file("in.bin"));
  qx_decoder decoder;
  ASSERT_EQ(qx_open(&decoder, bytes.data(), bytes.size()), QX_OK);
  EXPECT_EQ(qx_sample_rate(&decoder), 22050u);
  EXPECT_EQ(qx_sample_count(&decoder), c.samples);
  EXPECT_EQ(qx_loop_start(&decoder), loopStart);
  EXPECT_EQ(qx_loop_end(&decoder), loopEnd);
  EXPECT_EQ(readInChunks(decoder, expected.size()), expected);

  qx_rewind(&decoder);
  Samples whole(expected.size());
  EXPECT_EQ(qx_read(&decoder, whole.data(), whole.size()), whole.size());
  EXPECT_EQ(whole, expected);
  EXPECT_EQ(qx_read(&decoder, whole.data(), 1), 0u);

  // Eleven passes of the loop, read in odd sizes.
  size_t total = loopEnd + 11 * (loopEnd - loopStart) + 5;
  qx_rewind(&decoder);
  Samples looped(total);
  for (size_t done = 0; done < total;) {
    size_t want = std::min<size_t>(97 + done % 5, total - done);
    ASSERT_EQ(qx_read_looped(&decoder, looped.data() + done, want), want) << "at " << done;
    done += want;
  }
  EXPECT_EQ(looped, loopedExpectation(expected, loopStart, loopEnd, total));
}

std::string imageName(const ::testing::TestParamInfo<ImageCase>& info) {
  const ImageCase& c = info.param;
  return std::string(c.codec != nullptr ? c.codec + 2 : "pcm") + "_b" + std::to_string(c.blockSize) + "_" +
         std::to_string(c.samples);
}

// Samples per block: IMA 505 by default, 25, 27, 193, 2041; Orbel 60, 28,
// 30, 196, 2044; N64 128, 24, 26, 192, 2040. 12345 leaves a partial last
// block for each; the other counts leave one or two samples in it.
INSTANTIATE_TEST_SUITE_P(EveryType, ImageDecoding,
                         ::testing::Values(ImageCase{nullptr, 0, 12345}, ImageCase{"-cadpcmima", 0, 12345},
                                           ImageCase{"-cadpcmima", 16, 1001}, ImageCase{"-cadpcmima", 17, 12345},
                                           ImageCase{"-cadpcmima", 100, 12345}, ImageCase{"-cadpcmima", 1024, 12345},
                                           ImageCase{"-cadpcm", 0, 12345}, ImageCase{"-cadpcm", 16, 12345},
                                           ImageCase{"-cadpcm", 17, 991}, ImageCase{"-cadpcm", 100, 12345},
                                           ImageCase{"-cadpcm", 1024, 12345}, ImageCase{"-cadpcmn64", 0, 12345},
                                           ImageCase{"-cadpcmn64", 16, 986}, ImageCase{"-cadpcmn64", 17, 12345},
                                           ImageCase{"-cadpcmn64", 100, 961}, ImageCase{"-cadpcmn64", 1024, 12345}),
                         imageName);

// A header (big-endian) and `dataBytes` bytes of data.
Bytes image(uint8_t head, uint8_t type, uint16_t blkdata, uint16_t blksize, uint32_t samples, uint32_t loop1st,
            uint32_t loopend, size_t dataBytes) {
  Bytes out{head, type, 0x56, 0x22};
  for (uint32_t field : {uint32_t{blkdata} << 16 | blksize, samples, loop1st, loopend}) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(field >> shift));
  }
  for (size_t i = 0; i < dataBytes; ++i) out.push_back(static_cast<uint8_t>(i * 151 + 7));
  return out;
}

struct HostileCase {
  const char* what;
  Bytes bytes;
  int result;
  uint32_t samples;  // what the accessors and a read give
  uint32_t loopStart;
  uint32_t loopEnd;
};

TEST(ImageDecoding, HostileImagesAreRefusedOrBounded) {
  const HostileCase cases[] = {
      {"a header cut short", Bytes(19, 0x1A), QX_ERR_FORMAT, 0, 0, 0},
      {"wrong head byte", image(0x1B, 1, 1, 2, 4, 0, 0, 8), QX_ERR_FORMAT, 0, 0, 0},
      {"type 0", image(0x1A, 0, 1, 2, 4, 0, 0, 8), QX_ERR_FORMAT, 0, 0, 0},
      {"type 2, never written", image(0x1A, 2, 500, 256, 4, 0, 0, 256), QX_ERR_FORMAT, 0, 0, 0},
      {"type 7", image(0x1A, 7, 60, 32, 60, 0, 0, 32), QX_ERR_FORMAT, 0, 0, 0},
      {"PCM in 4-byte blocks", image(0x1A, 1, 1, 4, 4, 0, 0, 16), QX_ERR_FORMAT, 0, 0, 0},
      {"no samples per block", image(0x1A, 3, 0, 256, 0, 0, 0, 0), QX_ERR_FORMAT, 0, 0, 0},
      {"IMA block one sample over", image(0x1A, 3, 506, 256, 506, 0, 0, 256), QX_ERR_FORMAT, 0, 0, 0},
      {"Orbel block one sample over", image(0x1A, 5, 61, 32, 61, 0, 0, 32), QX_ERR_FORMAT, 0, 0, 0},
      {"N64 block one sample over", image(0x1A, 6, 129, 68, 129, 0, 0, 68), QX_ERR_FORMAT, 0, 0, 0},
      {"PCM one byte short", image(0x1A, 1, 1, 2, 10, 0, 0, 19), QX_ERR_FORMAT, 0, 0, 0},
      {"IMA partial block one byte short", image(0x1A, 3, 505, 256, 508, 0, 0, 260), QX_ERR_FORMAT, 0, 0, 0},
      {"Orbel partial block one byte short", image(0x1A, 5, 60, 32, 61, 0, 0, 34), QX_ERR_FORMAT, 0, 0, 0},
      {"N64 partial block one byte short", image(0x1A, 6, 128, 68, 131, 0, 0, 73), QX_ERR_FORMAT, 0, 0, 0},
      {"every sample count there is", image(0x1A, 1, 1, 2, 0xFFFFFFFF, 0, 0, 64), QX_ERR_FORMAT, 0, 0, 0},
      {"GSM in 64-byte blocks", image(0x1A, 4, 320, 64, 320, 0, 0, 64), QX_ERR_FORMAT, 0, 0, 0},
      {"GSM one block short", image(0x1A, 4, 320, 65, 321, 0, 0, 65), QX_ERR_FORMAT, 0, 0, 0},
      {"GSM", image(0x1A, 4, 320, 65, 640, 0, 640, 130), QX_ERR_UNSUPPORTED, 640, 0, 640},
      {"PCM just fitting", image(0x1A, 1, 1, 2, 10, 0, 0, 20), QX_OK, 10, 0, 0},
      {"IMA partial block just fitting", image(0x1A, 3, 505, 256, 508, 0, 0, 261), QX_OK, 508, 0, 0},
      {"Orbel partial block just fitting", image(0x1A, 5, 60, 32, 61, 0, 0, 35), QX_OK, 61, 0, 0},
      {"N64 partial block just fitting", image(0x1A, 6, 128, 68, 131, 0, 0, 74), QX_OK, 131, 0, 0},
      {"loop past the samples", image(0x1A, 5, 60, 32, 60, 10, 61, 32), QX_OK, 60, 0, 0},
      {"loop of nothing", image(0x1A, 5, 60, 32, 60, 10, 10, 32), QX_OK, 60, 0, 0},
      {"loop backwards", image(0x1A, 3, 505, 256, 505, 400, 100, 256), QX_OK, 505, 0, 0},
      {"huge loop", image(0x1A, 6, 128, 68, 128, 0xFFFFFFF0, 0xFFFFFFFF, 68), QX_OK, 128, 0, 0},
      {"no samples, as -ob writes them", image(0x1A, 1, 1, 2, 0, 0, 0, 0), QX_OK, 0, 0, 0},
      {"no N64 samples", image(0x1A, 6, 128, 68, 0, 0, 0, 0), QX_OK, 0, 0, 0},
  };
  // Every case reuses a decoder that played a loop: none may play again.
  const Bytes looped = image(0x1A, 1, 1, 2, 10, 2, 8, 20);
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.what);
    qx_decoder decoder;
    ASSERT_EQ(qx_open(&decoder, looped.data(), looped.size()), QX_OK);
    Samples played(30);
    ASSERT_EQ(qx_read_looped(&decoder, played.data(), played.size()), played.size());
    ASSERT_EQ(qx_open(&decoder, c.bytes.data(), c.bytes.size()), c.result);
    EXPECT_EQ(qx_sample_count(&decoder), c.samples);
    EXPECT_EQ(qx_loop_start(&decoder), c.loopStart);
    EXPECT_EQ(qx_loop_end(&decoder), c.loopEnd);
    // Every sample an accepted image holds is read, and then no more; a
    // refused one reads nothing, looped or not.
    Samples out(c.samples + 10);
    EXPECT_EQ(qx_read(&decoder, out.data(), out.size()), c.result == QX_OK ? c.samples : 0u);
    EXPECT_EQ(qx_read_looped(&decoder, out.data(), out.size()), 0u);
    qx_rewind(&decoder);
    if (c.loopEnd == 0) {
      EXPECT_EQ(qx_read_looped(&decoder, out.data(), out.size()), c.result == QX_OK ? c.samples : 0u);
    }
  }
  qx_decoder decoder;
  Bytes valid = image(0x1A, 1, 1, 2, 10, 0, 0, 20);
  EXPECT_EQ(qx_open(&decoder, nullptr, 100), QX_ERR_FORMAT);
  EXPECT_EQ(qx_open(nullptr, valid.data(), valid.size()), QX_ERR_FORMAT);
}

}  // namespace
