#!/usr/bin/env bash
# Builds the benchmark material from real sounds that Debian packages ship:
# the alsa-utils speaker-test voices and noise, the freedesktop sound theme
# (bells, chimes, shutters) and espeak-ng reading bench/speech.txt. Every
# step is deterministic (no dither), so a machine with the same packages
# always makes the same files.
#   speech22k.wav  espeak-ng speech alone, 22.05 kHz mono
#   mix44.wav      44 s at 44.1 kHz mono: speech with the sounds under it
#   long.wav       300 s at 44.1 kHz mono: the speech read by two voices,
#                  the sounds (slowed and sped up) under it
#   short/fxNNN.wav 200 pieces of long.wav, 0.2 to 2 s each, as a game's
#                  short sounds
# Usage: make_material.sh <output dir>
set -euo pipefail
export SOX_OPTS="-V1"
out=$1
here=$(cd "$(dirname "$0")" && pwd)
alsa=/usr/share/sounds/alsa
theme=/usr/share/sounds/freedesktop/stereo
for need in sox espeak-ng "$alsa/Noise.wav" "$theme/bell.oga"; do
  command -v "$need" >/dev/null || [ -e "$need" ] ||
    { echo "material: $need is missing (espeak-ng, alsa-utils, sound-theme-freedesktop, sox)"; exit 1; }
done
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
to_mono44() { sox -D "$1" -r 44100 -c 1 -b 16 -e signed "$2" remix - rate -v 44100; }

# The sound effects: every file once (the theme's links name the same
# sounds again), each followed by a short pause.
n=0
for f in "$alsa"/*.wav "$theme"/*.oga; do
  [ -L "$f" ] && continue
  n=$((n + 1))
  to_mono44 "$f" "$work/fx$(printf %03d $n).wav"
  sox -D "$work/fx$(printf %03d $n).wav" "$work/fxp$(printf %03d $n).wav" pad 0 0.15
done
sox -D "$work"/fxp*.wav "$work/effects.wav"

# The speech: the text read by a male and a female voice.
espeak-ng -v en-us -s 165 -f "$here/speech.txt" -w "$work/voice1.wav"
espeak-ng -v en-gb+f3 -s 150 -f "$here/speech.txt" -w "$work/voice2.wav"
sox -D "$work/voice1.wav" -b 16 -e signed "$out/speech22k.wav"
to_mono44 "$work/voice1.wav" "$work/voice1_44.wav"
to_mono44 "$work/voice2.wav" "$work/voice2_44.wav"

# 44 s: the first voice in front, the effects well under it, as a game
# mixes dialogue over its sound effects.
sox -D "$work/effects.wav" "$work/effects44.wav" pad 0 44 trim 0 44
sox -D "$work/voice1_44.wav" "$work/speech44.wav" pad 0 44 trim 0 44
sox -D -m -v 0.15 "$work/effects44.wav" -v 0.9 "$work/speech44.wav" "$out/mix44.wav" trim 0 1940400s

# 300 s: the effects at seven speeds, one after another, under
# both voices one after the other.
parts=()
for speed in 1.0 0.8 1.25 0.9 1.12 0.7 1.4; do
  sox -D "$work/effects.wav" "$work/effects_$speed.wav" speed "$speed" rate -v 44100
  parts+=("$work/effects_$speed.wav")
done
sox -D "${parts[@]}" "$work/effects_long.wav" pad 0 300 trim 0 300
sox -D "$work/voice1_44.wav" "$work/voice2_44.wav" "$work/speech_long.wav" pad 0 300 trim 0 300
sox -D -m -v 0.15 "$work/effects_long.wav" -v 0.9 "$work/speech_long.wav" "$out/long.wav" trim 0 13230000s

# 200 short pieces from all over long.wav, their lengths spread over 0.2
# to 2 s.
mkdir -p "$out/short"
for i in $(seq 0 199); do
  start=$((i * 65700 + (i * 7919) % 44100))
  length=$((8820 + (i * 104729) % 79381))
  sox -D "$out/long.wav" "$out/short/fx$(printf %03d "$i").wav" trim "${start}s" "${length}s"
done
