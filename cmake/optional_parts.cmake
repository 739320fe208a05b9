# Parts of the tree that need a library beyond the compiler: the tests
# (GoogleTest) and the benchmarks (Google Benchmark).
#
# zentrok_optional_part(<option> <what> <packages> <finder>) sets
# ZENTROK_WITH_<TESTS|BENCH> to whether the part is built. <finder> is a
# function that sets ZENTROK_FOUND to whether the library is there. OFF
# builds nothing; ON, or AUTO with ZENTROK_REQUIRE_ALL, stops the configure
# when the library is missing; AUTO otherwise leaves the part out and says so
# once.

# The machine's GoogleTest is built for it; a cross build compiles one for
# its target from the sources (/usr/src/googletest, Debian's googletest).
set(ZENTROK_GTEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")

function(zentrok_find_gtest)
  if(CMAKE_CROSSCOMPILING)
    if(EXISTS ${ZENTROK_GTEST_SOURCES}/CMakeLists.txt AND NOT CMAKE_DISABLE_FIND_PACKAGE_GTest)
      set(ZENTROK_FOUND TRUE PARENT_SCOPE)
    else()
      set(ZENTROK_FOUND FALSE PARENT_SCOPE)
    endif()
    return()
  endif()
  find_package(GTest QUIET)
  set(ZENTROK_FOUND ${GTest_FOUND} PARENT_SCOPE)
endfunction()

# The Windows build's benchmark part is the host side of the Wine round
# trip, which needs nothing beyond the DLL.
function(zentrok_find_benchmark)
  if(WIN32)
    set(ZENTROK_FOUND TRUE PARENT_SCOPE)
    return()
  endif()
  find_package(benchmark QUIET)
  set(ZENTROK_FOUND ${benchmark_FOUND} PARENT_SCOPE)
endfunction()

function(zentrok_optional_part option what packages finder)
  string(REGEX REPLACE "^ZENTROK_BUILD_" "ZENTROK_WITH_" result ${option})
  set(${result} FALSE PARENT_SCOPE)
  set(wanted ${${option}})
  if(NOT wanted MATCHES "^(AUTO|ON|OFF|TRUE|FALSE|YES|NO|1|0)$")
    message(FATAL_ERROR "${option} is \"${wanted}\"; it takes AUTO, ON or OFF")
  endif()
  if(NOT wanted STREQUAL "AUTO" AND NOT wanted)
    return()
  endif()
  cmake_language(CALL ${finder})
  if(ZENTROK_FOUND)
    set(${result} TRUE PARENT_SCOPE)
    return()
  endif()
  if(wanted STREQUAL "AUTO" AND NOT ZENTROK_REQUIRE_ALL)
    message(STATUS "The ${what} are skipped: ${packages} was not found (${option}=OFF leaves them out without this note)")
    return()
  endif()
  if(wanted STREQUAL "AUTO")
    set(why "ZENTROK_REQUIRE_ALL=ON requires the ${what}")
  else()
    set(why "${option}=${wanted} asks for them")
  endif()
  message(FATAL_ERROR "The ${what} need ${packages}, which was not found; ${why}. "
                      "scripts/install-deps.sh installs it, or configure with ${option}=OFF.")
endfunction()
