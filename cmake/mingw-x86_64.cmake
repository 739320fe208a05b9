# Cross build of the Windows code for x86-64 with MinGW-w64, for running the
# Windows tests under 64-bit Wine on a machine whose kernel runs no 32-bit
# programs. Hosts get the 32-bit DLL (mingw-i686.cmake); this build only
# tests the same sources on the same Windows API.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZENTROK_MINGW_TRIPLET x86_64-w64-mingw32)
set(ZENTROK_WINE_RUNNER wine64-run.sh)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
