#!/usr/bin/env bash
# Writes the seed corpora: small valid files of every format the project
# reads, made by quarlix itself from the bundled example and by sox (GSM).
# Usage: fuzz/make_corpus.sh path/to/quarlix
set -euo pipefail
quarlix=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# 2000 samples of the example tone: 4 KB of PCM.
sox "$here/../examples/tone.wav" -t wav short.wav trim 0 2000s

mkdir -p out
for type in adpcm adpcmn64 adpcmima adpcmms; do
  (cd out && "$quarlix" -b64 "-c$type" ../short.wav >/dev/null && mv short.wav "$type.wav")
done
sox short.wav -r 8000 -e gsm-full-rate gsm.wav
sox short.wav -e a-law alaw.wav
# The layouts -m converts, as the tools write them, within the 8 KiB the
# harnesses read.
sox short.wav -c 2 -b 24 stereo24.wav trim 0 500s
ffmpeg -loglevel error -i short.wav -t 0.01 -ac 6 -c:a pcm_f32le float6.wav

for harness in chunk_walk file_job; do
  mkdir -p "$here/corpus/$harness"
  cp short.wav gsm.wav alaw.wav out/*.wav "$here/corpus/$harness/"
done
cp stereo24.wav float6.wav "$here/corpus/file_job/"

# The image harness takes a read-size byte and an image: the -ob image of
# every type, the ADPCM ones with a loop from sample 333 to 1777.
mkdir -p "$here/corpus/image_decoder"
(cd out && "$quarlix" -ob ../short.wav >/dev/null && mv ../short.bin pcm.bin)
for type in adpcm adpcmn64 adpcmima; do
  (cd out && "$quarlix" -b64 "-c$type" -ob ../short.wav >/dev/null && mv ../short.bin "$type.bin")
done
(cd out && "$quarlix" -ob ../gsm.wav >/dev/null && mv ../gsm.bin gsm.bin)
python3 - "$here/corpus/image_decoder" out/*.bin <<'PY'
import struct, sys
for index, path in enumerate(sys.argv[2:]):
    image = bytearray(open(path, "rb").read())
    name = path.split("/")[-1][:-4]
    if name.startswith("adpcm"):
        image[12:20] = struct.pack(">II", 333, 1777)
    open(f"{sys.argv[1]}/{name}", "wb").write(bytes([index * 13 % 61]) + image)
PY

# The block harness takes a selector byte, a count byte and block bytes:
# one seed per decoder from the data chunks above.
mkdir -p "$here/corpus/block_decoders"
seed() {  # selector file
  python3 - "$1" "$2" "$here/corpus/block_decoders/$(basename "$2" .wav)" <<'PY'
import struct, sys
selector, path, out = int(sys.argv[1]), sys.argv[2], sys.argv[3]
image = open(path, "rb").read()
at = 12
while at + 8 <= len(image):
    ident, size = image[at:at + 4], struct.unpack("<I", image[at + 4:at + 8])[0]
    if ident == b"data":
        open(out, "wb").write(bytes([selector, 0xFF]) + image[at + 8:at + 8 + min(size, 512)])
        break
    at += 8 + size + (size & 1)
PY
}
seed 0 out/adpcm.wav
seed 1 out/adpcmn64.wav
seed 2 out/adpcmima.wav
seed 3 out/adpcmms.wav
seed 4 gsm.wav

# The geometry harnesses take a prefix that builds the file or image.
python3 "$here/geometry_seeds.py" "$here"
