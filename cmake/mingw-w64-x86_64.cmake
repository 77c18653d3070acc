# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix thread
# model, so std::thread and std::mutex work). KW_WIN_PREFIX names the folder
# that holds the dependencies built for Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KW_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KW_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KW_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KW_MINGW}-windres)

set(KW_WIN_PREFIX "" CACHE PATH "Folder of the dependencies built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${KW_MINGW} ${KW_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
