#!/usr/bin/env python3
"""Writes examples/tone.wav: 300 ms of a 440 Hz tone with a short fade,
16-bit mono PCM at 22050 Hz. Synthesised here, so it carries no third-party audio."""
import math
import struct
import wave

RATE = 22050
COUNT = RATE * 3 // 10

with wave.open("tone.wav", "wb") as out:
    out.setnchannels(1)
    out.setsampwidth(2)
    out.setframerate(RATE)
    frames = bytearray()
    for i in range(COUNT):
        fade = min(1.0, i / 500, (COUNT - i) / 500)
        frames += struct.pack("<h", round(12000 * fade * math.sin(2 * math.pi * 440 * i / RATE)))
    out.writeframes(bytes(frames))
