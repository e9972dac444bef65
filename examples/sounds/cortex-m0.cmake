# A Cortex-M0 with Debian's arm-none-eabi-gcc (package gcc-arm-none-eabi):
#   cmake -S examples/sounds -B build-m0 --toolchain cortex-m0.cmake \
#         -DCMAKE_PREFIX_PATH=<quarlix's prefix>
# builds the sound bank and the decoder library for the device; the sounds
# are converted by the host's quarlix all the same.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_C_FLAGS_INIT "-mcpu=cortex-m0 -mthumb")
set(CMAKE_CXX_FLAGS_INIT "-mcpu=cortex-m0 -mthumb")
# Linking needs the device's start-up code and memory map, which a firmware
# project brings: the compiler checks build libraries only.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# Programs are the host's; packages are searched on the host too, where
# quarlix's is installed.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
