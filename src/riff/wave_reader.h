// Loads a WAV file whole into a WaveFile and prints its information block.
#pragma once

#include <cstdint>

#include "riff/wave_file.h"

// 0 on success; -5 when the file cannot be opened; -1 on any other reported
// failure, with whatever was loaded released again.
int32_t waveRead(WaveFile& record, const char* path);

// The same from the file as the per-file job has read it (riffReadInput):
// the record takes the image over, and its data chunk stays in it.
int32_t waveRead(WaveFile& record, const char* path, InputImage& input);

// The loop of an ICMT comment "start end"; false when the text is not two
// whole numbers (the loop fields then stay as they are).
bool parseCommentLoop(const char* text, uint32_t* loopStart, uint32_t* loopEnd);
