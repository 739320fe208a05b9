# What the MinGW-w64 cross builds share; the toolchain files set the target
# triplet (ZENTROK_MINGW_TRIPLET) and the Wine runner (ZENTROK_WINE_RUNNER)
# first. The posix thread model makes the C++ threading library available;
# it is linked statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZENTROK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZENTROK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZENTROK_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZENTROK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Executables link the runtime statically too: they run under Wine as they are.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/${ZENTROK_WINE_RUNNER} ${CMAKE_BINARY_DIR}/wineprefix)
