# Installs the library, its header, a CMake package (find_package(zentrok)
# gives zentrok::zentrok) and a pkg-config file; on Windows also the import
# library, the .def file and a README for host developers, and the DLL
# without debug sections.
include(CMakePackageConfigHelpers)

set(ZENTROK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zentrok)

install(TARGETS zentrok EXPORT zentrokTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/zentrok.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/src/zentrok.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/WINDOWS-HOSTS.md DESTINATION . RENAME README.md)
endif()

# zentrok_strip_installed(<target>): on Windows, what is installed is
# released, so the installed program or DLL goes without the debug sections
# that the build tree keeps for the tests.
function(zentrok_strip_installed target)
  if(WIN32)
    install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-all
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>\"
                    COMMAND_ERROR_IS_FATAL ANY)")
  endif()
endfunction()
zentrok_strip_installed(zentrok)

install(EXPORT zentrokTargets NAMESPACE zentrok:: DESTINATION ${ZENTROK_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zentrokConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zentrokConfig.cmake INSTALL_DESTINATION ${ZENTROK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zentrokConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zentrokConfig.cmake ${PROJECT_BINARY_DIR}/zentrokConfigVersion.cmake
  DESTINATION ${ZENTROK_CMAKE_DIR})

# The .pc file finds its prefix from where it lies, so a tree unpacked
# anywhere (a scratch root, another prefix) still describes itself.
file(RELATIVE_PATH ZENTROK_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ZENTROK_PC_TO_PREFIX "${ZENTROK_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/zentrok.pc.in ${PROJECT_BINARY_DIR}/zentrok.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zentrok.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The bindings and the documentation, on both builds. The Python binding is
# a package pip installs from where it lies; beside it goes the project's
# version, which its setup.py reads when no CMakeLists.txt is two folders up.
set(ZENTROK_DATA_DIR ${CMAKE_INSTALL_DATADIR}/zentrok)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/pascal ${PROJECT_SOURCE_DIR}/bindings/dotnet
        DESTINATION ${ZENTROK_DATA_DIR}/bindings)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python DESTINATION ${ZENTROK_DATA_DIR}/bindings
        PATTERN "__pycache__" EXCLUDE PATTERN "*.egg-info" EXCLUDE PATTERN "build" EXCLUDE)
file(WRITE ${PROJECT_BINARY_DIR}/bindings/VERSION "${PROJECT_VERSION}\n")
install(FILES ${PROJECT_BINARY_DIR}/bindings/VERSION DESTINATION ${ZENTROK_DATA_DIR}/bindings/python)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/docs/TOOLS.md ${PROJECT_SOURCE_DIR}/docs/WINDOWS-HOSTS.md
              ${PROJECT_SOURCE_DIR}/docs/RELIABILITY.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN "CMakeLists.txt" EXCLUDE)
