// Reading what a WAV file holds and having the common tools decode it, for
// the tests that hold quarlix's streams against sox and libsndfile.
#pragma once

#include <cstdint>
#include <string>

#include "support/cli_runner.h"
#include "support/test_signals.h"
#include "support/wav_builder.h"

// The format tag, the fact count and the data of a WAV file.
struct WavContents {
  uint16_t formatTag = 0;
  uint32_t factCount = 0;
  Bytes data;
};

WavContents readWav(const std::string& path);

// The samples of a 16-bit PCM WAV file (its format tag is checked).
Samples pcmSamplesOf(const std::string& path);

// A tool's run must succeed.
void expectRuns(const CliResult& result, const std::string& what);

// Decodes `encoded` (relative to dir) with sox and with libsndfile; a
// failing tool fails the test.
void peerDecode(const ScratchDir& dir, const std::string& encoded, Samples& bySox, Samples& bySndfile);

// The first samples of `peer` must be exactly `ours`.
void expectSameSamples(const Samples& ours, const Samples& peer, const std::string& who);
