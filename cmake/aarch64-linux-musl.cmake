# AArch64 Linux with musl, statically linked: the portability build.
#
# RRM_MUSL_ROOT names the folder scripts/cross-musl.sh prepares:
#   bin/     cc, c++, ar, ranlib: the cross compiler's wrappers
#   sysroot/ the target's libev, SQLite and GoogleTest (headers, static
#            libraries, CMake package files)
# Programs run under qemu-user (CMAKE_CROSSCOMPILING_EMULATOR); programs they
# start need the emulator registered with binfmt_misc (scripts/aarch64-ns.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

if(NOT RRM_MUSL_ROOT AND DEFINED ENV{RRM_MUSL_ROOT})
  set(RRM_MUSL_ROOT "$ENV{RRM_MUSL_ROOT}")
endif()
if(NOT RRM_MUSL_ROOT)
  message(FATAL_ERROR "set RRM_MUSL_ROOT to the folder scripts/cross-musl.sh prepares")
endif()
# Compiler checks run in a fresh project that reads this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RRM_MUSL_ROOT)

set(CMAKE_C_COMPILER ${RRM_MUSL_ROOT}/bin/cc)
set(CMAKE_CXX_COMPILER ${RRM_MUSL_ROOT}/bin/c++)
set(CMAKE_AR ${RRM_MUSL_ROOT}/bin/ar CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${RRM_MUSL_ROOT}/bin/ranlib CACHE FILEPATH "archive indexer")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(RRM_STATIC_LINK ON)

set(CMAKE_FIND_ROOT_PATH ${RRM_MUSL_ROOT}/sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(RRM_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(RRM_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RRM_QEMU_AARCH64})
endif()
