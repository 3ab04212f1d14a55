# Cross build for Windows x64 with Debian's mingw-w64 (posix thread model, for std::thread and
# friends). Programs are linked statically, so they run under wine64 or on Windows without any
# MinGW runtime DLL next to them (a shared Qt still brings its own), and CTest runs the test
# programs through wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVAN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVAN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVAN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVAN_MINGW_PREFIX}-windres)

# CORVAN_WINDOWS_PREFIXES: Windows builds of our dependencies (Qt) outside the system's
# mingw tree, as scripts/windows-release.sh passes them. Each is searched like the system's own.
set(CORVAN_WINDOWS_PREFIXES "${CORVAN_WINDOWS_PREFIXES}" CACHE STRING "Windows builds of Qt")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CORVAN_WINDOWS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${CORVAN_MINGW_PREFIX} ${CORVAN_WINDOWS_PREFIXES})
list(APPEND CMAKE_PREFIX_PATH ${CORVAN_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# wine64 is not on PATH in Debian; WINEPREFIX and WINEDEBUG come from the caller's environment
# (scripts/windows-check.sh sets them).
find_program(CORVAN_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT CORVAN_WINE64)
    find_program(CORVAN_WINE64 NAMES wine64 wine)
endif()
if(CORVAN_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVAN_WINE64})
endif()
