# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread and std::mutex need). The libraries built by scripts/windows-toolchain.sh are found
# through PELK_WINDOWS_PREFIX (Qt, hidapi, libsodium and libarchive under one folder each).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PELK_MINGW_TRIPLET}-windres)

if(NOT PELK_WINDOWS_PREFIX AND DEFINED ENV{PELK_WINDOWS_PREFIX})
  set(PELK_WINDOWS_PREFIX $ENV{PELK_WINDOWS_PREFIX})
endif()
set(PELK_WINDOWS_PREFIX "${PELK_WINDOWS_PREFIX}" CACHE PATH "Folder holding qt5-mingw, hidapi, libsodium and libarchive")
# Passed on to the try_compile projects, which read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PELK_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${PELK_MINGW_TRIPLET} ${PELK_WINDOWS_PREFIX}/qt5-mingw
    ${PELK_WINDOWS_PREFIX}/hidapi ${PELK_WINDOWS_PREFIX}/libsodium ${PELK_WINDOWS_PREFIX}/libarchive)
set(CMAKE_PREFIX_PATH ${PELK_WINDOWS_PREFIX}/qt5-mingw ${PELK_WINDOWS_PREFIX}/hidapi
    ${PELK_WINDOWS_PREFIX}/libsodium ${PELK_WINDOWS_PREFIX}/libarchive)
# Programs (moc, rcc, uic, the host's tools) from this machine; libraries and headers only from
# the Windows folders.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run under Wine when CTest starts them.
find_program(PELK_WINE NAMES wine wine64)
if(PELK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELK_WINE})
endif()
