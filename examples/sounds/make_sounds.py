#!/usr/bin/env python3
"""Writes the example's sounds: short PCM WAV files synthesised here (so they
carry no third-party audio), under names that no C identifier holds as they
stand; most are 16-bit mono, those in mixed/ mono, stereo, 8-bit and 24-bit
at several rates, as a game's folder mixes them. Run in examples/sounds."""
import math
import os
import struct
import wave


def sample_bytes(value, width):
    """One sample of `width` bytes from a value on the 16-bit scale."""
    if width == 1:
        return struct.pack("<B", max(0, min(255, round(value / 256) + 128)))
    scaled = max(-(1 << (8 * width - 1)), min((1 << (8 * width - 1)) - 1, round(value * (1 << (8 * width - 16)))))
    return scaled.to_bytes(width, "little", signed=True)


def write(path, rate, samples, channels=1, width=2):
    """`samples` holds frames: values, or tuples of one value per channel."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path, "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(width)
        out.setframerate(rate)
        frames = (frame if isinstance(frame, tuple) else (frame,) for frame in samples)
        out.writeframes(b"".join(sample_bytes(v, width) for frame in frames for v in frame))


def noise(count, seed):
    """A fixed pseudo-random sequence in -1..1 (a 32-bit xorshift)."""
    x = seed
    for _ in range(count):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        yield x / 2147483648.0 - 1.0


def door_open(rate=11025, seconds=0.25):
    """A creak: a rising, wavering tone rich in harmonics."""
    count = int(rate * seconds)
    phase = 0.0
    for i in range(count):
        t = i / rate
        phase += 2 * math.pi * (180 + 260 * t / seconds + 25 * math.sin(2 * math.pi * 9 * t)) / rate
        envelope = min(1.0, i / 200) * (1 - i / count)
        yield 11000 * envelope * (math.sin(phase) + 0.5 * math.sin(3 * phase) + 0.25 * math.sin(5 * phase))


def drum_hit(rate=11025, seconds=0.2):
    """A thump under a burst of noise, both dying away."""
    count = int(rate * seconds)
    for i, n in enumerate(noise(count, 2463534242)):
        t = i / rate
        yield 20000 * math.exp(-t * 30) * math.sin(2 * math.pi * 70 * t) + 9000 * math.exp(-t * 60) * n


def ui_blip(rate=22050, seconds=0.08):
    """A short bright blip for a button."""
    count = int(rate * seconds)
    for i in range(count):
        envelope = min(1.0, i / 40, (count - i) / 400)
        yield 9000 * envelope * math.sin(2 * math.pi * 1200 * i / rate)


def vowel(rate=8000, seconds=0.3):
    """A spoken-like "ah": harmonics of 120 Hz shaped by two formants."""
    count = int(rate * seconds)
    for i in range(count):
        t = i / rate
        value = 0.0
        for k in range(1, 30):
            f = 120 * k
            if f >= rate / 2:
                break
            gain = math.exp(-((f - 700) / 150) ** 2) + 0.6 * math.exp(-((f - 1200) / 200) ** 2) + 0.05
            value += gain * math.sin(2 * math.pi * f * t)
        yield 6000 * min(1.0, i / 300, (count - i) / 300) * value


def theme(rate=8000, seconds=0.5):
    """Four notes of an arpeggio, played looped."""
    count = int(rate * seconds)
    notes = (262, 330, 392, 523)
    for i in range(count):
        note = notes[i * len(notes) // count]
        within = (i * len(notes)) % count / count
        yield 8000 * (1 - 0.6 * within) * math.sin(2 * math.pi * note * i / rate)


def engine(rate=22050, seconds=0.2):
    """A low hum panned from left to right, as stereo frames."""
    count = int(rate * seconds)
    for i in range(count):
        value = 7000 * (math.sin(2 * math.pi * 90 * i / rate) + 0.4 * math.sin(2 * math.pi * 270 * i / rate))
        pan = i / count
        yield (value * (1 - pan), value * pan)


def coin(rate=11025, seconds=0.15):
    """Two quick high notes."""
    count = int(rate * seconds)
    for i in range(count):
        note = 988 if i < count // 3 else 1319
        yield 12000 * (1 - i / count) * math.sin(2 * math.pi * note * i / rate)


write("sfx/door-open.wav", 11025, list(door_open()))
write("sfx/hit.wav", 11025, list(drum_hit()))
write("ui/hit.wav", 22050, list(ui_blip()))
write("voice/hello world.wav", 8000, list(vowel()))
write("music/theme.wav", 8000, list(theme()))
write("mixed/beep-mono.wav", 8000, list(ui_blip(8000)))
write("mixed/engine-stereo.wav", 22050, list(engine()), channels=2)
write("mixed/coin-8bit.wav", 11025, list(coin()), width=1)
write("mixed/laser-24bit.wav", 48000, list(door_open(48000, 0.1)), width=3)
