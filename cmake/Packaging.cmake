# CPack: what `cmake --install` puts under the prefix, as Debian packages on Linux (one per install
# component of cmake/Install.cmake, <package>_<version>_<arch>.deb, installed under /usr; configure
# with -DCMAKE_INSTALL_PREFIX=/usr for Debian's multiarch library directory) and as a zip on
# Windows (zarerera-<version>-win32.zip or -win64.zip, one top directory with bin/, lib/, include/,
# share/, every component in it). scripts/package.sh builds them all.
set(CPACK_PACKAGE_NAME zarerera)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zarerera developers")
set(CPACK_PACKAGE_CONTACT "zarerera developers <dev@zarerera.example>")
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "Access library for the PCI I/O board behind a PLX 9050 bridge")
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME zarerera-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME zarerera-${PROJECT_VERSION}-win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  # Installed binaries without their symbol tables, as Debian ships them (the zips keep theirs, by
  # which scripts/check_dll.sh finds each export's code).
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL ${ZARERERA_DEB_COMPONENTS})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "zarerera developers <dev@zarerera.example>")
  # The synopsis is each description's first line. Packages with a shared library in the loader's
  # path have ldconfig run by a trigger, as Debian's policy asks; their maintainer scripts are
  # ours, so that CPack adds no ldconfig call of its own.
  set(_ldconfig_by_trigger ${CMAKE_CURRENT_LIST_DIR}/debian/triggers
                           ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
                           ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${_ldconfig_by_trigger})
  set(CPACK_DEBIAN_SIMRUNTIME_PACKAGE_CONTROL_EXTRA ${_ldconfig_by_trigger})
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Depends: computed by dpkg-shlibdeps from what each package's binaries link, plus the packages
  # of this build each one needs; the libraries' own shlibs files, so that packages built against
  # them depend on them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
  # zarerera-tools makes the group the udev rule (packaging/udev) gives the boards bound to
  # vfio-pci.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/deb/postinst)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  endif()
  set(_exactly "(= ${PROJECT_VERSION})")

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzarerera1)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  string(CONCAT CPACK_COMPONENT_RUNTIME_DESCRIPTION
         "PLX 9050 I/O board access library\n"
         "The board API of zarerera.h as a shared library: open a board behind a\n"
         "PLX 9050 PCI bridge, read its digital input, write its digital output and\n"
         "program and read its four groups of 8254 counters. On Linux it reaches the\n"
         "board through the kernel's PCI sysfs files.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzarerera-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libzarerera1 ${_exactly}")
  string(CONCAT CPACK_COMPONENT_DEV_DESCRIPTION
         "PLX 9050 I/O board access library - development files\n"
         "Headers, the CMake package (find_package(zarerera)), the pkg-config file and\n"
         "the link to libzarerera, to build applications of the board API, with the\n"
         "README and the example programs.")

  set(CPACK_DEBIAN_SIMRUNTIME_PACKAGE_NAME libzarerera-sim1)
  set(CPACK_DEBIAN_SIMRUNTIME_PACKAGE_SECTION libs)
  string(CONCAT CPACK_COMPONENT_SIMRUNTIME_DESCRIPTION
         "PLX 9050 I/O board access library on a simulated machine\n"
         "The board API of zarerera.h on simulated PLX 9050 boards, for an\n"
         "application's own tests: linked in libzarerera's place, it lets a test set\n"
         "up the machine, step a virtual clock, drive inputs and faults and look at\n"
         "what reached the boards. Nothing reaches real hardware.")

  set(CPACK_DEBIAN_SIMDEV_PACKAGE_NAME libzarerera-sim-dev)
  set(CPACK_DEBIAN_SIMDEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_SIMDEV_PACKAGE_DEPENDS
      "libzarerera-sim1 ${_exactly}, libzarerera-dev ${_exactly}")
  string(CONCAT CPACK_COMPONENT_SIMDEV_DESCRIPTION
         "PLX 9050 I/O board library on a simulated machine - development files\n"
         "The header zarerera_sim.h, the CMake target zarerera::zarerera_sim, the\n"
         "pkg-config file zarerera-sim and the link to libzarerera_sim, to build an\n"
         "application's tests against the simulated boards.")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zarerera-tools)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
  string(CONCAT CPACK_COMPONENT_TOOLS_DESCRIPTION
         "PLX 9050 I/O board diagnostics and commands\n"
         "p9050diag, console menus for the bridge's registers, local spaces, serial\n"
         "EEPROM and interrupts and for the PCI bus, and zarerera, one-shot commands\n"
         "for scripts: list boards, set registers, read and write ports and counters,\n"
         "back up and write the EEPROM. Both run on the real bus or a simulated one.")
endif()

include(CPack)
