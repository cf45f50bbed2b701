# Cross build for 64-bit Windows with Debian's mingw-w64 compilers (the
# "posix" thread model, so std::thread works). Everything is linked statically,
# the C and C++ runtimes and winpthread included, so the .exe files run without
# any DLL beside them.
#
#   cmake --preset windows-cross       (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake)
#
# Tests run under Wine through scripts/wine-run.sh, CTest's emulator for this
# build.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QDIPC_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QDIPC_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QDIPC_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QDIPC_MINGW_TRIPLET}-windres)

# Headers, libraries and packages come from the mingw-w64 tree only; programs
# (pkg-config, code generators) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QDIPC_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
    get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ABSOLUTE)
endif()

# pkg-config (a build-machine program) looks only at the mingw-w64 tree, so
# Linux libraries are never picked up for Windows targets.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${QDIPC_MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
