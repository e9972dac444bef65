# The Windows build (cmake/mingw-w64-x86_64.cmake) links libgsm compiled
# from Debian's own source package, which scripts/install-deps.sh fetches
# into build-deps/libgsm, with the flags Debian's build uses.
enable_language(C)

set(QUARLIX_GSM_SOURCE_DIR ${PROJECT_SOURCE_DIR}/build-deps/libgsm/source
    CACHE PATH "Debian's libgsm source, unpacked")
if(NOT EXISTS ${QUARLIX_GSM_SOURCE_DIR}/inc/gsm.h)
  message(FATAL_ERROR "no libgsm source in ${QUARLIX_GSM_SOURCE_DIR}: run scripts/install-deps.sh --windows")
endif()
set(QUARLIX_GSM_DECODER_SOURCES add code debug decode long_term lpc preprocess rpe gsm_destroy gsm_decode
    gsm_encode gsm_explode gsm_implode gsm_create gsm_print gsm_option short_term table)
list(TRANSFORM QUARLIX_GSM_DECODER_SOURCES PREPEND ${QUARLIX_GSM_SOURCE_DIR}/src/)
list(TRANSFORM QUARLIX_GSM_DECODER_SOURCES APPEND .c)
add_library(gsm_windows STATIC ${QUARLIX_GSM_DECODER_SOURCES})
target_include_directories(gsm_windows PUBLIC ${QUARLIX_GSM_SOURCE_DIR}/inc)
target_compile_definitions(gsm_windows PRIVATE SASR WAV49 USE_FLOAT_MUL NeedFunctionPrototypes=1)
# Its own code, built as Debian builds it; its warnings are not ours.
target_compile_options(gsm_windows PRIVATE -w)
set(GSM_INCLUDE_DIR ${QUARLIX_GSM_SOURCE_DIR}/inc CACHE PATH "" FORCE)
set(GSM_LIBRARY gsm_windows CACHE STRING "" FORCE)

# libsoxr, for -s, the same way: Debian's own source package, which
# scripts/install-deps.sh fetches into build-deps/libsoxr, compiled as
# Debian's build compiles it (C89 with GNU extensions, -O2), but without
# OpenMP and with only the engine -s uses: constant-rate resampling in
# double precision.
set(QUARLIX_SOXR_SOURCE_DIR ${PROJECT_SOURCE_DIR}/build-deps/libsoxr/source
    CACHE PATH "Debian's libsoxr source, unpacked")
if(NOT EXISTS ${QUARLIX_SOXR_SOURCE_DIR}/src/soxr.h)
  message(FATAL_ERROR "no libsoxr source in ${QUARLIX_SOXR_SOURCE_DIR}: run scripts/install-deps.sh")
endif()
foreach(setting AVCODEC_FOUND AVUTIL_FOUND HAVE_BIGENDIAN WITH_PFFFT WITH_CR32 WITH_CR32S WITH_CR64S WITH_VR32
                WITH_FLOAT_STD_PREC_CLOCK WITH_DEV_TRACE)
  set(${setting} OFF)
endforeach()
foreach(setting HAVE_FENV_H HAVE_STDBOOL_H HAVE_STDINT_H HAVE_LRINT WITH_CR64 WITH_HI_PREC_CLOCK)
  set(${setting} ON)
endforeach()
configure_file(${QUARLIX_SOXR_SOURCE_DIR}/soxr-config.h.in ${PROJECT_BINARY_DIR}/soxr/soxr-config.h)
set(QUARLIX_SOXR_SOURCES soxr data-io dbesi0 filter fft4g64 cr cr64)
list(TRANSFORM QUARLIX_SOXR_SOURCES PREPEND ${QUARLIX_SOXR_SOURCE_DIR}/src/)
list(TRANSFORM QUARLIX_SOXR_SOURCES APPEND .c)
add_library(soxr_windows STATIC ${QUARLIX_SOXR_SOURCES})
target_include_directories(soxr_windows PRIVATE ${PROJECT_BINARY_DIR}/soxr PUBLIC ${QUARLIX_SOXR_SOURCE_DIR}/src)
target_compile_definitions(soxr_windows PRIVATE SOXR_LIB)
set_target_properties(soxr_windows PROPERTIES C_STANDARD 90 C_EXTENSIONS ON)
target_compile_options(soxr_windows PRIVATE -O2 -w)
set(SOXR_INCLUDE_DIR ${QUARLIX_SOXR_SOURCE_DIR}/src CACHE PATH "" FORCE)
set(SOXR_LIBRARY soxr_windows CACHE STRING "" FORCE)
