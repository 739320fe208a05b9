# Packages of the install tree, made with `cpack` in a build folder (or the
# `package` target), the version in each name:
#   Windows: zentrok-<version>-win32.zip, the tree as cmake --install gives it;
#   Linux:   zentrok_<version>_<arch>.deb, installed under /usr.
set(CPACK_PACKAGE_NAME zentrok)
set(CPACK_PACKAGE_VENDOR "ZENTROK")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The .deb must name a maintainer; this placeholder is to be replaced by the real address.
set(CPACK_PACKAGE_CONTACT "ZENTROK maintainers <zentrok@localhost>")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_STRIP_FILES OFF)  # the Windows install strips its own; the .deb keeps symbols

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zentrok-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # zentrok_<version>_<arch>.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "serial device driver for text telegrams\n The library libzentrok.so frames, logs and decodes the telegrams of a\n device on a serial line and hands them to a host through five C calls;\n with its header, CMake and pkg-config files, the tools zentrok-monitor\n and zentrok-sim, the Pascal, C# and Python bindings and the documentation.")
  find_program(ZENTROK_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(ZENTROK_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # dependencies from the linked libraries
  endif()
endif()
include(CPack)
