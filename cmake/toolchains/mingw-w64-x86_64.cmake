# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the posix thread model: the win32 one
# has no std::thread). ZENTROWE_WINDOWS_PREFIX is where scripts/windows installs the libraries it
# builds; they and MinGW's own folder are the only places searched for libraries and headers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(ZENTROWE_WINDOWS_PREFIX "" CACHE PATH "Where the cross-built libraries are installed")
list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(ZENTROWE_WINDOWS_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH "${ZENTROWE_WINDOWS_PREFIX}")
    list(APPEND CMAKE_PREFIX_PATH "${ZENTROWE_WINDOWS_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine when CTest or GoogleTest's discovery starts them.
set(CMAKE_CROSSCOMPILING_EMULATOR wine64 CACHE STRING "Runs the Windows programs on this machine")
