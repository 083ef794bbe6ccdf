# What `cmake --install` puts under the prefix, in the usual layout of each system:
#   Linux:   lib/<arch>/libzarerera.so.1.0.0 (+ .so.1, .so links), libzarerera_sim.so.*,
#            include/zarerera*.h, bin/p9050diag, bin/zarerera, share/man/man1/*.1.gz,
#            share/doc/zarerera/ (README, examples/), share/doc/<package>/ (copyright, changelog.gz)
#   Windows: bin/zarerera.dll (and the tools' .exe where they are built), lib/libzarerera.dll.a,
#            lib/zarerera.def, include/zarerera*.h, share/doc/zarerera/
# and on both the CMake package (lib/.../cmake/zarerera: find_package(zarerera), targets
# zarerera::zarerera and, on Linux, zarerera::zarerera_sim) and pkg-config files (zarerera,
# zarerera-sim). Every installed path is relative to the prefix, so an installed tree may be moved.
#
# Each file belongs to one install component, which is one Debian package (cmake/Packaging.cmake):
#   runtime     libzarerera1         the shared library
#   dev         libzarerera-dev      its headers, .so link, CMake package, pkg-config file, the
#                                    README and the examples
#   simruntime  libzarerera-sim1     the simulated board's shared library
#   simdev      libzarerera-sim-dev  its header, .so link, CMake targets, pkg-config file
#   tools       zarerera-tools       p9050diag and zarerera with their manual pages
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZARERERA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zarerera)
set(_public_headers ${PROJECT_SOURCE_DIR}/include/zarerera.h
                    ${PROJECT_BINARY_DIR}/include/zarerera_version.h)
set(_libraries)
set(_sim_library)

if(TARGET zarerera)
  # Applications see the board API's header and the version header, nothing of the build.
  target_include_directories(zarerera INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                                $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
                                                $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # libzarerera.so.1 (SONAME) -> libzarerera.so.1.0.0. The DLL keeps its plain name.
    set_target_properties(zarerera PROPERTIES VERSION ${PROJECT_VERSION}
                                              SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
  list(APPEND _libraries zarerera)
endif()
if(TARGET zarerera_sim_public AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(_sim_library zarerera_sim_public)
endif()

if(_libraries)
  install(TARGETS ${_libraries} EXPORT zarereraTargets
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
endif()
install(FILES ${_public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
if(_sim_library)
  install(TARGETS ${_sim_library} EXPORT zarereraSimTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT simruntime
                  NAMELINK_COMPONENT simdev)
  install(FILES ${PROJECT_SOURCE_DIR}/include/zarerera_sim.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT simdev)
endif()
if(WIN32 AND TARGET zarerera)
  # For linkers that make their own import library from it (lib /def:zarerera.def).
  install(FILES ${PROJECT_SOURCE_DIR}/board/zarerera.def DESTINATION ${CMAKE_INSTALL_LIBDIR}
          COMPONENT dev)
endif()

# The tools, where they are built, with manual pages made from their --help and --version.
set(_tools)
foreach(tool p9050diag zarerera_cmd)
  if(TARGET ${tool})
    list(APPEND _tools ${tool})
  endif()
endforeach()
if(_tools)
  install(TARGETS ${_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  find_program(ZARERERA_HELP2MAN help2man)
  if(ZARERERA_HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
    # Each page is help2man's rendering of a --help text, with the examples, exit status, files and
    # related commands of tools/man/<page>.h2m. zarerera has a page per command as well
    # (zarerera-list, zarerera-eeprom-write, ...), made through a small script that runs the
    # command, so that help2man reads that command's --help.
    set(_pages)
    set(_plain_pages)
    set(_man_sources ${PROJECT_SOURCE_DIR}/tools/man)
    set(_summary_p9050diag "console diagnostics for PLX 9050 PCI cards")
    set(_summary_zarerera_cmd "one-shot commands for PLX 9050 I/O boards")
    set(_commands list config regs di do counters counter-set read write "eeprom dump"
                  "eeprom write" "eeprom verify" watch)
    foreach(tool IN LISTS _tools)
      get_target_property(_name ${tool} OUTPUT_NAME)
      if(NOT _name)
        set(_name ${tool})
      endif()
      set(_includes --include=${_man_sources}/${_name}.h2m)
      if(_name STREQUAL "zarerera")
        list(APPEND _includes --include=${_man_sources}/zarerera-common.h2m)
      endif()
      # Compressed as Debian's policy asks, without a name or time stamp in the gzip header, so
      # that the same build gives the same bytes; the plain page is kept for the check below.
      set(_page ${PROJECT_BINARY_DIR}/man/${_name}.1)
      add_custom_command(OUTPUT ${_page}.gz
                         COMMAND ${ZARERERA_HELP2MAN} --no-info --name=${_summary_${tool}}
                                 ${_includes} --output=${_page} $<TARGET_FILE:${tool}>
                         COMMAND gzip -9nkf ${_page}
                         DEPENDS ${tool} ${_man_sources}/${_name}.h2m VERBATIM)
      list(APPEND _pages ${_page}.gz)
      list(APPEND _plain_pages ${_page})
      if(NOT _name STREQUAL "zarerera")
        continue()
      endif()
      foreach(command IN LISTS _commands)
        string(REPLACE " " "-" _page_name "zarerera-${command}")
        set(_runner ${PROJECT_BINARY_DIR}/man/run/${_page_name})
        file(GENERATE OUTPUT ${_runner}
             CONTENT "#!/bin/sh\nexec '$<TARGET_FILE:${tool}>' ${command} \"$@\"\n"
             FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                              WORLD_READ WORLD_EXECUTE)
        set(_page ${PROJECT_BINARY_DIR}/man/${_page_name}.1)
        add_custom_command(OUTPUT ${_page}.gz
                           COMMAND ${ZARERERA_HELP2MAN} --no-info "--name=zarerera ${command}"
                                   "--version-string=${_page_name} ${PROJECT_VERSION}"
                                   --include=${_man_sources}/${_page_name}.h2m
                                   --include=${_man_sources}/zarerera-common.h2m
                                   --output=${_page} ${_runner}
                           COMMAND gzip -9nkf ${_page}
                           DEPENDS ${tool} ${_man_sources}/${_page_name}.h2m
                                   ${_man_sources}/zarerera-common.h2m VERBATIM)
        list(APPEND _pages ${_page}.gz)
        list(APPEND _plain_pages ${_page})
      endforeach()
    endforeach()
    add_custom_target(zarerera_man_pages ALL DEPENDS ${_pages})
    if(ZARERERA_TESTS)
      add_test(NAME tools.ManualPagesHaveTheirSections
               COMMAND ${CMAKE_COMMAND} "-DPAGES=${_plain_pages}"
                       -P ${PROJECT_SOURCE_DIR}/tests/tools/man_pages_check.cmake)
    endif()
    install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  elseif(NOT CMAKE_CROSSCOMPILING)
    message(STATUS "help2man not found: the tools are installed without manual pages")
  endif()
endif()

# On Linux, the udev rule that gives group zarerera the functions bound to vfio-pci.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/70-zarerera-vfio.rules
          DESTINATION lib/udev/rules.d COMPONENT tools)
endif()

# The README and the example with its CMake project, which builds against the installed library.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt ${PROJECT_SOURCE_DIR}/examples/board_demo.c
              ${PROJECT_SOURCE_DIR}/examples/sim_board_host.c
              ${PROJECT_SOURCE_DIR}/examples/counter_test.c
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT dev)

# On Linux every package carries its copyright notice and changelog in share/doc/<package>, as
# Debian's policy asks; the names are the packages' own (cmake/Packaging.cmake).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(ZARERERA_CHANGELOG_DATE "Thu, 10 Dec 2026 00:00:00 +0000")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog
                 @ONLY)
  set(_changelog_gz ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  add_custom_command(OUTPUT ${_changelog_gz}
                     COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/debian/changelog > ${_changelog_gz}
                     DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
  add_custom_target(zarerera_changelog ALL DEPENDS ${_changelog_gz})
  set(_package_of_runtime libzarerera1)
  set(_package_of_dev libzarerera-dev)
  set(_package_of_simruntime libzarerera-sim1)
  set(_package_of_simdev libzarerera-sim-dev)
  set(_package_of_tools zarerera-tools)
  set(_components)
  if(_libraries)
    list(APPEND _components runtime dev)
  endif()
  if(_sim_library)
    list(APPEND _components simruntime simdev)
  endif()
  if(_tools)
    list(APPEND _components tools)
  endif()
  foreach(component IN LISTS _components)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${_changelog_gz}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package_of_${component}}
            COMPONENT ${component})
  endforeach()
  set(ZARERERA_DEB_COMPONENTS ${_components})
endif()

if(NOT _libraries)
  return()
endif()

# find_package(zarerera): any 1.x install satisfies a request for 1.y with y <= x, and only one
# built for the caller's pointer width.
install(EXPORT zarereraTargets NAMESPACE zarerera:: DESTINATION ${ZARERERA_CMAKE_DIR} COMPONENT dev)
if(_sim_library)
  install(EXPORT zarereraSimTargets NAMESPACE zarerera:: DESTINATION ${ZARERERA_CMAKE_DIR}
          COMPONENT simdev)
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zarereraConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/zarereraConfig.cmake
                              INSTALL_DESTINATION ${ZARERERA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zarereraConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zarereraConfig.cmake
              ${PROJECT_BINARY_DIR}/zarereraConfigVersion.cmake
        DESTINATION ${ZARERERA_CMAKE_DIR} COMPONENT dev)

# pkg-config: the prefix is found from the .pc file's own place (${pcfiledir}).
file(RELATIVE_PATH ZARERERA_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ZARERERA_PC_TO_PREFIX "${ZARERERA_PC_TO_PREFIX}")
set(_pc_component_zarerera dev)
set(_pc_component_zarerera-sim simdev)
set(_pc_modules zarerera)
if(_sim_library)
  list(APPEND _pc_modules zarerera-sim)
endif()
foreach(module IN LISTS _pc_modules)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${module}.pc.in ${PROJECT_BINARY_DIR}/${module}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${module}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT ${_pc_component_${module}})
endforeach()
