# CPack: what `cmake --install` puts under the prefix, as a Debian package on Linux
# (zarerera_<version>_<arch>.deb, installed under /usr; configure with -DCMAKE_INSTALL_PREFIX=/usr
# for Debian's multiarch library directory) and as a zip on Windows (zarerera-<version>-win32.zip
# or -win64.zip, one top directory with bin/, lib/, include/, share/). scripts/package.sh builds
# them all.
set(CPACK_PACKAGE_NAME zarerera)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR zarerera)
set(CPACK_PACKAGE_CONTACT "zarerera developers <zarerera@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Access library for the PCI I/O board behind a PLX 9050 bridge")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "The board API (zarerera.h) as a shared library, the same API on a simulated board for an "
       "application's own tests, the console diagnostics p9050diag and the zarerera command.")
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME zarerera-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME zarerera-${PROJECT_VERSION}-win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # Depends: computed by dpkg-shlibdeps from what the binaries link; the libraries' own shlibs
  # file, so that packages built against them depend on this one.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  # The group the udev rule (packaging/udev) gives the boards bound to vfio-pci.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/deb/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  endif()
endif()

include(CPack)
