# The Debian package (cpack -G DEB in a build tree): what cmake/install.cmake
# installs, under /usr, stripped, with the shared-library dependencies found
# by dpkg-shlibdeps (libc, libstdc++, and libdw/libelf for the proxy and the
# post-mortem tool).
set(CPACK_PACKAGE_NAME osa-plugin)
set(CPACK_PACKAGE_VENDOR "OSA plug-in developers")
set(CPACK_PACKAGE_CONTACT "OSA plug-in developers <osa-plugin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Real-time kernel awareness for embedded debuggers (JSON-RPC plug-in and tools)")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gdb-multiarch | gdb, python3")
find_program(OSA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(OSA_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # Without it, the libraries the executables and the shared library load.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  if(TARGET dwarf)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libdw1, libelf1")
  endif()
endif()
include(CPack)
