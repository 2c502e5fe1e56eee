# Cross-compiling KZ_Tarn.dll for 64-bit Windows with Debian's mingw-w64
# (the posix thread model, so std::thread and std::mutex are available).
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KZ_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KZ_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KZ_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KZ_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KZ_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
