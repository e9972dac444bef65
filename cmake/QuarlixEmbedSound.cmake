# One sound of quarlix_add_sounds(), at build time: copies the WAV into its
# work folder, converts it there with quarlix to its sample image, checks
# that the image is of the format asked for, and writes it as a C array.
# cmake -DQUARLIX=<tool> -DSOURCE=<wav> -DSHOWN=<its path as named> -DWORK=<folder>
#       -DNAME=<C name> -DFORMAT=<adpcm|adpcmn64|adpcmima|pcm> -DBLOCK=<bytes or empty>
#       -DLOOP=<bool> -DRATE=<hz or empty> -DOUTPUT=<source file> -P QuarlixEmbedSound.cmake
cmake_minimum_required(VERSION 3.21)

# The image's sample type (its second byte) by FORMAT, and the types' names.
set(type_adpcm 5)
set(type_adpcmn64 6)
set(type_adpcmima 3)
set(type_pcm 1)
set(type_name_1 "16-bit PCM")
set(type_name_3 "IMA ADPCM")
set(type_name_4 "GSM 06.10")
set(type_name_5 "Orbel ADPCM")
set(type_name_6 "Orbel ADPCM-N64")

file(MAKE_DIRECTORY "${WORK}")
file(REMOVE "${WORK}/sound.wav" "${WORK}/sound.bin")
file(COPY_FILE "${SOURCE}" "${WORK}/sound.wav")
# Any PCM WAV becomes 16-bit mono (at RATE) before it is compressed.
if(RATE STREQUAL "")
  set(options -m)
else()
  set(options "-s${RATE}")
endif()
if(NOT FORMAT STREQUAL "pcm")
  list(APPEND options "-c${FORMAT}")
endif()
if(NOT BLOCK STREQUAL "")
  list(APPEND options "-b${BLOCK}")
endif()
# -rl chooses the .sam output as well as the loop, so -ob comes after it.
if(LOOP)
  list(APPEND options "-rl")
endif()
list(APPEND options -ob)
execute_process(COMMAND "${QUARLIX}" ${options} sound.wav WORKING_DIRECTORY "${WORK}"
                OUTPUT_VARIABLE report ERROR_VARIABLE report RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS "${WORK}/sound.bin")
  # Its lines as they stand (indented, so that CMake does not reflow them).
  string(REGEX REPLACE "\n\n+" "\n" report "${report}")
  string(STRIP "${report}" report)
  string(REPLACE "\n" "\n  " report "${report}")
  message(FATAL_ERROR "quarlix could not convert ${SOURCE}:\n  ${report}")
endif()

# A WAV that is already ADPCM passes through quarlix as it is.
file(READ "${WORK}/sound.bin" head LIMIT 8 HEX)
string(SUBSTRING "${head}" 2 2 type)
string(SUBSTRING "${head}" 4 4 rate)
string(SUBSTRING "${head}" 12 4 block)
math(EXPR type "0x${type}")
math(EXPR rate "0x${rate}")
math(EXPR block "0x${block}")
if(NOT type EQUAL type_${FORMAT})
  message(FATAL_ERROR "${SOURCE} is ${type_name_${type}}, not the ${type_name_${type_${FORMAT}}} "
                      "that FORMAT ${FORMAT} asks for")
endif()
if(NOT BLOCK STREQUAL "" AND NOT block EQUAL BLOCK)
  message(FATAL_ERROR "${SOURCE} has blocks of ${block} bytes, not the ${BLOCK} that BLOCK asks for")
endif()
# The image holds the rate's low 16 bits.
if(NOT RATE STREQUAL "")
  math(EXPR low "${RATE} % 65536")
  if(NOT rate EQUAL low)
    message(FATAL_ERROR "${SOURCE} is compressed already at ${rate} Hz, not at the ${RATE} Hz that RATE asks for")
  endif()
endif()

file(READ "${WORK}/sound.bin" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
       "\\1\n" bytes "${bytes}")
if(NOT bytes MATCHES "\n$")
  string(APPEND bytes "\n")
endif()
string(REPLACE "*/" "*_/" shown "${SHOWN}")
list(JOIN options " " options)
# Written whole, then renamed: an interrupted build never leaves half an array.
file(WRITE "${OUTPUT}.part" "\
/* ${shown}, converted by quarlix ${options}: written by quarlix_add_sounds(), do not edit. */
#include <stddef.h>

#if defined(__cplusplus) && __cplusplus >= 201103L
#define QUARLIX_ALIGN4 alignas(4)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define QUARLIX_ALIGN4 _Alignas(4)
#elif defined(__GNUC__)
#define QUARLIX_ALIGN4 __attribute__((aligned(4)))
#elif defined(_MSC_VER)
#define QUARLIX_ALIGN4 __declspec(align(4))
#else
#error \"quarlix_add_sounds: no known way to align an array to 4 bytes with this compiler\"
#endif

#ifdef __cplusplus
extern \"C\" {
#endif

/* Declared first, so that in C++ too the const definitions are seen from other files. */
extern const unsigned char ${NAME}[];
extern const size_t ${NAME}_size;

QUARLIX_ALIGN4 const unsigned char ${NAME}[${size}] = {
${bytes}};
const size_t ${NAME}_size = ${size};

#ifdef __cplusplus
}
#endif
")
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
