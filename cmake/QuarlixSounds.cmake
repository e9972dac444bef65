# quarlix_add_sounds(<target> HEADER <file.h>
#                    [FORMAT adpcm | adpcmn64 | adpcmima | pcm] [BLOCK <bytes>] [LOOP]
#                    [RATE <hz>] SOURCES <wav>...)
#
# Converts every WAV with quarlix at build time (one run per sound) into its
# sample image, the bytes of `quarlix -m -ob` (any PCM WAV made 16-bit mono;
# with RATE, `-s<hz>`: resampled to that rate too), and embeds each in <target> as a
# const array aligned to 4 bytes with its size. <file.h>, generated in the
# build tree and put on the target's include path, declares for each sound
#   extern const unsigned char <name>[];
#   extern const size_t <name>_size;
# where <name> is the WAV's path relative to the calling CMakeLists' folder
# (a file outside it: its file name), without ".wav", made a C identifier:
# sfx/door-open.wav gives sfx_door_open. The target is linked to
# Quarlix::decode, which plays the images (quarlix_decode.h).
#
# Loaded by find_package(Quarlix), or by add_subdirectory() of quarlix's
# source tree.
cmake_policy(VERSION 3.21...3.28)

function(quarlix_add_sounds target)
  set(format_adpcm "Orbel ADPCM")
  set(format_adpcmn64 "Orbel ADPCM-N64")
  set(format_adpcmima "IMA ADPCM")
  set(format_pcm "16-bit PCM")
  # Words of C and C++ that a file name can give but no array can have.
  set(keywords alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t
      char16_t char32_t class compl concept const consteval constexpr constinit const_cast continue
      co_await co_return co_yield decltype default delete do double dynamic_cast else enum explicit
      export extern false float for friend goto if inline int long mutable namespace new noexcept not
      not_eq nullptr operator or or_eq private protected public register reinterpret_cast requires
      restrict return short signed sizeof static static_assert static_cast struct switch template this
      thread_local throw true try typedef typeid typename typeof typeof_unqual union unsigned using
      virtual void volatile wchar_t while xor xor_eq _Alignas _Alignof _Atomic _BitInt _Bool _Complex
      _Decimal128 _Decimal32 _Decimal64 _Generic _Imaginary _Noreturn _Static_assert _Thread_local)
  cmake_parse_arguments(PARSE_ARGV 1 arg "LOOP" "HEADER;FORMAT;BLOCK;RATE" "SOURCES")
  set(call "quarlix_add_sounds(${target})")
  if(arg_UNPARSED_ARGUMENTS OR arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "${call}: unknown or empty arguments: "
                        "${arg_UNPARSED_ARGUMENTS} ${arg_KEYWORDS_MISSING_VALUES}")
  endif()
  if(NOT TARGET "${target}")
    message(FATAL_ERROR "${call}: there is no target ${target}")
  endif()
  get_target_property(type "${target}" TYPE)
  get_target_property(imported "${target}" IMPORTED)
  get_target_property(aliased "${target}" ALIASED_TARGET)
  if(imported OR aliased OR NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
    message(FATAL_ERROR "${call}: the sounds go into an executable or a library of this project")
  endif()
  # The rules that convert the sounds reach only targets of their own folder.
  get_target_property(target_folder "${target}" SOURCE_DIR)
  if(NOT target_folder STREQUAL CMAKE_CURRENT_SOURCE_DIR)
    message(FATAL_ERROR "${call}: call it in ${target_folder}, the folder that creates the target")
  endif()
  if(NOT arg_HEADER OR IS_ABSOLUTE "${arg_HEADER}" OR arg_HEADER MATCHES "(^|/)\\.\\.(/|$)")
    message(FATAL_ERROR "${call}: HEADER names the header to generate, relative and in the build "
                        "tree (HEADER sounds.h)")
  endif()
  if(NOT arg_SOURCES)
    message(FATAL_ERROR "${call}: SOURCES names no sound")
  endif()
  if(NOT DEFINED arg_FORMAT)
    set(arg_FORMAT adpcm)
  elseif(NOT DEFINED format_${arg_FORMAT})
    message(FATAL_ERROR "${call}: FORMAT is adpcm, adpcmn64, adpcmima or pcm, not ${arg_FORMAT}")
  endif()
  set(description "${format_${arg_FORMAT}}")
  if(DEFINED arg_BLOCK)
    if(arg_FORMAT STREQUAL "pcm")
      message(FATAL_ERROR "${call}: BLOCK is the ADPCM block size; FORMAT pcm has no blocks")
    endif()
    if(NOT arg_BLOCK MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${call}: BLOCK takes a number of bytes, not ${arg_BLOCK}")
    endif()
    string(APPEND description ", blocks of ${arg_BLOCK} bytes")
  endif()
  if(arg_LOOP)
    string(APPEND description ", looped whole")
  endif()
  if(DEFINED arg_RATE)
    if(NOT arg_RATE MATCHES "^[0-9]+$" OR arg_RATE LESS 1000 OR arg_RATE GREATER 192000)
      message(FATAL_ERROR "${call}: RATE takes a sample rate in Hz from 1000 to 192000, not ${arg_RATE}")
    endif()
    string(APPEND description ", at ${arg_RATE} Hz")
  endif()
  if(NOT TARGET Quarlix::quarlix)
    message(FATAL_ERROR "${call}: no quarlix program for this host to convert the sounds: "
                        "set QUARLIX_EXECUTABLE to its path")
  endif()
  # The arrays are compiled in the project's own language: C where it is
  # enabled, else C++.
  if(CMAKE_C_COMPILER_LOADED)
    set(extension .c)
  elseif(CMAKE_CXX_COMPILER_LOADED)
    set(extension .cpp)
  else()
    message(FATAL_ERROR "${call}: the project enables neither C nor C++")
  endif()

  set(folder "${CMAKE_CURRENT_BINARY_DIR}/quarlix_sounds/${target}")
  set(header "${folder}/include/${arg_HEADER}")
  get_target_property(symbols "${target}" _QUARLIX_SYMBOLS)
  get_target_property(owners "${target}" _QUARLIX_SYMBOL_OWNERS)
  if(NOT symbols)
    set(symbols "")
    set(owners "")
  endif()
  set(declarations "")
  set(arrays "")
  foreach(source IN LISTS arg_SOURCES)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE OUTPUT_VARIABLE file)
    get_source_file_property(generated "${file}" GENERATED)
    if(NOT EXISTS "${file}" AND NOT generated)
      message(FATAL_ERROR "${call}: no sound ${file}")
    endif()
    cmake_path(IS_PREFIX CMAKE_CURRENT_SOURCE_DIR "${file}" NORMALIZE inside)
    if(inside)
      cmake_path(RELATIVE_PATH file BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" OUTPUT_VARIABLE shown)
    else()
      cmake_path(GET file FILENAME shown)
    endif()
    _quarlix_sound_name("${shown}" name)
    if(name STREQUAL "" OR name IN_LIST keywords)
      message(FATAL_ERROR "${call}: ${source} gives the name \"${name}\", which no C or C++ "
                          "array can have: rename the file")
    endif()
    # Each sound defines two symbols; no other sound of the target may.
    foreach(symbol IN ITEMS "${name}" "${name}_size")
      list(FIND symbols "${symbol}" taken)
      if(taken GREATER_EQUAL 0)
        list(GET owners ${taken} owner)
        message(FATAL_ERROR "${call}: ${owner} and ${source} both give the name ${symbol}")
      endif()
    endforeach()
    list(APPEND symbols "${name}" "${name}_size")
    list(APPEND owners "${source}" "${source}")

    # Converted in a folder of its own under a plain name: quarlix writes
    # beside its input and reads * and ? as wildcards. The options are kept
    # in a file the conversion depends on, so changing them converts again.
    set(work "${folder}/${name}")
    set(array "${work}/${name}${extension}")
    _quarlix_write_if_changed("${work}/options.txt" "${arg_FORMAT} ${arg_BLOCK} ${arg_LOOP} ${arg_RATE}\n")
    add_custom_command(OUTPUT "${array}"
      COMMAND "${CMAKE_COMMAND}" "-DQUARLIX=$<TARGET_FILE:Quarlix::quarlix>" "-DSOURCE=${file}"
              "-DSHOWN=${shown}" "-DWORK=${work}" "-DNAME=${name}" "-DFORMAT=${arg_FORMAT}"
              "-DBLOCK=${arg_BLOCK}" "-DLOOP=${arg_LOOP}" "-DRATE=${arg_RATE}" "-DOUTPUT=${array}"
              -P "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QuarlixEmbedSound.cmake"
      DEPENDS "${file}" "${work}/options.txt" "$<TARGET_FILE:Quarlix::quarlix>"
              "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QuarlixEmbedSound.cmake"
      COMMENT "Converting sound ${shown}"
      VERBATIM)
    list(APPEND arrays "${array}")
    string(REPLACE "*/" "*_/" commented "${shown}")
    string(APPEND declarations "\n/* ${commented}: ${description} */\n"
                               "extern const unsigned char ${name}[];\n"
                               "extern const size_t ${name}_size;\n")
  endforeach()
  set_property(TARGET "${target}" PROPERTY _QUARLIX_SYMBOLS "${symbols}")
  set_property(TARGET "${target}" PROPERTY _QUARLIX_SYMBOL_OWNERS "${owners}")

  # Calls may share a header: it is written once, when the folder's
  # CMakeLists is done.
  string(MD5 key "${header}")
  get_property(headers DIRECTORY PROPERTY _QUARLIX_HEADERS)
  if(NOT header IN_LIST headers)
    if(NOT headers)
      cmake_language(DEFER CALL _quarlix_write_headers)
    endif()
    set_property(DIRECTORY APPEND PROPERTY _QUARLIX_HEADERS "${header}")
    string(MAKE_C_IDENTIFIER "QUARLIX_SOUNDS_${target}_${arg_HEADER}" guard)
    string(TOUPPER "${guard}" guard)
    set_property(GLOBAL PROPERTY _QUARLIX_HEADER_GUARD_${key} "${guard}")
    set_property(GLOBAL PROPERTY _QUARLIX_HEADER_TARGET_${key} "${target}")
  endif()
  set_property(GLOBAL APPEND_STRING PROPERTY _QUARLIX_HEADER_TEXT_${key} "${declarations}")

  target_sources("${target}" PRIVATE ${arrays})
  target_include_directories("${target}" PUBLIC "$<BUILD_INTERFACE:${folder}/include>")
  # Linked through the link properties themselves, not target_link_libraries():
  # its plain and keyword forms may not be mixed on one target, and the
  # caller may use either. A static library passes the decoder on to what
  # links it, as target_link_libraries(PRIVATE) would.
  get_target_property(linked "${target}" _QUARLIX_LINKED)
  if(NOT linked)
    set_property(TARGET "${target}" APPEND PROPERTY LINK_LIBRARIES Quarlix::decode)
    if(type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "OBJECT_LIBRARY")
      set_property(TARGET "${target}" APPEND PROPERTY INTERFACE_LINK_LIBRARIES "$<LINK_ONLY:Quarlix::decode>")
    endif()
    set_property(TARGET "${target}" PROPERTY _QUARLIX_LINKED TRUE)
  endif()
endfunction()

# A sound's C name: its path without ".wav" (in any case), every byte other
# than a letter, a digit or _ turned into _, and _ before a leading digit.
function(_quarlix_sound_name path out)
  string(REGEX REPLACE "\\.[Ww][Aa][Vv]$" "" stem "${path}")
  string(MAKE_C_IDENTIFIER "${stem}" name)
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

# Writes only when the text differs, so that what depends on the file is
# not rebuilt for nothing.
function(_quarlix_write_if_changed file text)
  if(EXISTS "${file}")
    file(READ "${file}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${file}" "${text}")
endfunction()

# Run at the end of a folder's CMakeLists: the headers of its calls.
function(_quarlix_write_headers)
  get_property(headers DIRECTORY PROPERTY _QUARLIX_HEADERS)
  foreach(header IN LISTS headers)
    string(MD5 key "${header}")
    get_property(guard GLOBAL PROPERTY _QUARLIX_HEADER_GUARD_${key})
    get_property(target GLOBAL PROPERTY _QUARLIX_HEADER_TARGET_${key})
    get_property(declarations GLOBAL PROPERTY _QUARLIX_HEADER_TEXT_${key})
    _quarlix_write_if_changed("${header}" "\
/* The sounds of ${target}, generated by quarlix_add_sounds(): do not edit.
 * Each array is a quarlix sample image (the bytes of quarlix -ob), aligned
 * to 4 bytes; play it with qx_open(&decoder, name, name_size) and qx_read()
 * of quarlix_decode.h. */
#ifndef ${guard}
#define ${guard}

#include <stddef.h>

#ifdef __cplusplus
extern \"C\" {
#endif
${declarations}
#ifdef __cplusplus
}
#endif

#endif
")
  endforeach()
endfunction()

# Quarlix::quarlix as the program found on this host: QUARLIX_EXECUTABLE when
# set, else quarlix in the folders given, else on the PATH; never in a
# cross-compiling project's sysroot.
function(_quarlix_import_host_tool)
  find_program(QUARLIX_EXECUTABLE NAMES quarlix PATHS ${ARGN} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
               DOC "quarlix for this host, which converts the sounds")
  find_program(QUARLIX_EXECUTABLE NAMES quarlix NO_CMAKE_FIND_ROOT_PATH)
  if(QUARLIX_EXECUTABLE AND NOT TARGET Quarlix::quarlix)
    add_executable(Quarlix::quarlix IMPORTED GLOBAL)
    set_target_properties(Quarlix::quarlix PROPERTIES IMPORTED_LOCATION "${QUARLIX_EXECUTABLE}")
  endif()
endfunction()
