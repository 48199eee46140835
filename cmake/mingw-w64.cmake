# Cross build for 64-bit Windows with MinGW-w64 (Debian g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKVT40_BUILD_GUI=OFF
# The posix-threads variant of the compiler, because the core uses std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVT40_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KVT40_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVT40_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KVT40_MINGW_TRIPLE}-windres)

# Headers and libraries of the target only; programs (code generators, gzip) of the build machine.
# KVT40_QT_WINDOWS, the Qt of scripts/build-qt-windows.sh, is searched as a target root too.
set(CMAKE_FIND_ROOT_PATH /usr/${KVT40_MINGW_TRIPLE} ${KVT40_QT_WINDOWS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static run-time libraries: kvt40ctl.exe is one file that runs without the compiler's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
