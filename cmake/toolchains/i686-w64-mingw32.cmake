# Cross build for Windows (i686) with mingw-w64. The -posix compilers carry the thread model that
# std::thread and std::mutex need.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OVIK_MINGW_TRIPLE i686-w64-mingw32)

set(CMAKE_C_COMPILER ${OVIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OVIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OVIK_MINGW_TRIPLE}-windres)
# widl (the type library) is found by name: cmake/WindowsComponent.cmake.
find_program(OVIK_WIDL widl)

set(CMAKE_FIND_ROOT_PATH /usr/${OVIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

