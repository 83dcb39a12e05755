# Cross-compiles the non-Qt core for 64-bit Windows with Debian's mingw-w64.
# The posix thread model is the one whose libstdc++ has std::thread and std::mutex.
# Programs are linked statically so that they run under wine (or on a bare
# Windows PC) without the compiler's DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARNEL_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(VARNEL_MINGW_CXX NAMES ${VARNEL_MINGW_TRIPLE}-g++-posix ${VARNEL_MINGW_TRIPLE}-g++ REQUIRED)
find_program(VARNEL_MINGW_CC NAMES ${VARNEL_MINGW_TRIPLE}-gcc-posix ${VARNEL_MINGW_TRIPLE}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${VARNEL_MINGW_CXX})
set(CMAKE_C_COMPILER ${VARNEL_MINGW_CC})
set(CMAKE_RC_COMPILER ${VARNEL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest lists and runs the test programs under wine, in a prefix inside the build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
