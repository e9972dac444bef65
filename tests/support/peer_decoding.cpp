#include "support/peer_decoding.h"

#include <gtest/gtest.h>

WavContents readWav(const std::string& path) {
  Bytes file = readFileBytes(path);
  Bytes fmt = chunkContents(file, "fmt ");
  Bytes fact = chunkContents(file, "fact");
  WavContents out;
  if (fmt.size() >= 2) out.formatTag = static_cast<uint16_t>(fmt[0] | fmt[1] << 8);
  if (fact.size() >= 4) out.factCount = loadLE32At(fact, 0);
  out.data = chunkContents(file, "data");
  return out;
}

Samples pcmSamplesOf(const std::string& path) {
  WavContents wav = readWav(path);
  EXPECT_EQ(wav.formatTag, 1) << path;
  return pcm16FromBytes(wav.data.data(), wav.data.size() / 2);
}

void expectRuns(const CliResult& result, const std::string& what) {
  EXPECT_EQ(result.status, 0) << what << "\n" << result.output << result.errors;
}

void peerDecode(const ScratchDir& dir, const std::string& encoded, Samples& bySox, Samples& bySndfile) {
  expectRuns(runProgramIn(dir.path(), "sox", {"-D", encoded, "-e", "signed-integer", "-b", "16", "sox.wav"}),
             "sox decode " + encoded);
  expectRuns(runProgramIn(dir.path(), "sndfile-convert", {"-pcm16", encoded, "sndfile.wav"}),
             "sndfile-convert decode " + encoded);
  bySox = pcmSamplesOf(dir.file("sox.wav"));
  bySndfile = pcmSamplesOf(dir.file("sndfile.wav"));
}

void expectSameSamples(const Samples& ours, const Samples& peer, const std::string& who) {
  ASSERT_GE(peer.size(), ours.size()) << who;
  size_t mismatches = 0, first = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    if (ours[i] != peer[i] && mismatches++ == 0) first = i;
  }
  EXPECT_EQ(mismatches, 0u) << who << ": first at " << first << " (" << ours[first] << " vs " << peer[first] << ")";
}
