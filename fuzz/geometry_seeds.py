"""Seeds of the geometry harnesses: one file per format, in each harness's
prefix layout (see its source), for a block of the usual size holding all
it can, nine blocks and the fact or sample count the blocks give."""
import os
import random
import sys

here = sys.argv[1]
rng = random.Random(2026)
data = bytes(rng.randrange(256) for _ in range(96))


def write(harness, name, prefix):
    folder = os.path.join(here, "corpus", harness)
    os.makedirs(folder, exist_ok=True)
    assert len(prefix) == 16
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(prefix) + data)


def small_block(header, size):
    """The block-size pick that gives `size` bytes past a `header` minimum."""
    pick = (size - max(header, 1) + 1) * 4
    return [pick & 255, pick >> 8]


# wav_geometry: selector, block size, samples per block, blocks, partial
# block, fact mode, fact word, loop, then the data.
for index, (name, header, held, size) in enumerate(
        [("ima", 4, 1, 36), ("ms", 7, 2, 38), ("orbel", 2, 0, 34), ("n64", 5, 2, 37)]):
    capacity = 2 * (size - header) + held
    spb = 2 * capacity
    write("wav_geometry", name, [index] + small_block(header, size) + [spb & 255, spb >> 8, 9, 0x80, 1,
                                 0, 0, 0, 0, 0, 0, 0, 0])
write("wav_geometry", "gsm", [4, 23, 0, 0x80, 2, 9, 0x80, 1, 0, 0, 0, 0, 0, 0, 0, 0])
for index, name in enumerate(["encode_orbel", "encode_n64", "encode_ima", "encode_ms"]):
    write("wav_geometry", name, [15 + index, 16, 0, index, 9, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0])

# image_geometry: type, block size, samples per block, blocks, sample count
# mode and offset, spare bytes, loop, read size, lone block count, data.
for index, (name, header, held, size) in enumerate(
        [("pcm", 0, 0, 2), ("ima", 4, 1, 36), ("gsm", 65, 320, 65), ("orbel", 2, 0, 34),
         ("n64", 5, 2, 37), ("ms", 7, 2, 38)]):
    capacity = 1 if name == "pcm" else 320 if name == "gsm" else 2 * (size - header) + held
    spb = 2 * capacity
    block = [23, 0] if name == "gsm" else [0, 0] if name == "pcm" else small_block(header, size)
    write("image_geometry", name, [index] + block + [spb & 255, spb >> 8, 9, 0, 4, 4, 10, 0, 1, 20,
                                   13, capacity & 255, 0])
