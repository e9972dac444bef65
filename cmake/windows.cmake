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
