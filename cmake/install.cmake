# What `cmake --install` puts where, and the Debian packages made by
# `cpack -G DEB`: voldex (the programs and their data) and voldex-dev (the
# plug-in header).

set(VOLDEX_MAIN_COMPONENT voldex)
install(TARGETS voldex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${VOLDEX_MAIN_COMPONENT})
if(TARGET voldex)
  install(TARGETS voldex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${VOLDEX_MAIN_COMPONENT})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/profiles/voldex-profiles.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/voldex
        COMPONENT ${VOLDEX_MAIN_COMPONENT})
install(FILES ${CMAKE_SOURCE_DIR}/data/voldex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT ${VOLDEX_MAIN_COMPONENT})
install(FILES ${CMAKE_SOURCE_DIR}/data/voldex-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME voldex.xml COMPONENT ${VOLDEX_MAIN_COMPONENT})
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/voldex.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT ${VOLDEX_MAIN_COMPONENT})
foreach(size 16 32 48 128)
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/voldex-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME voldex.png
          COMPONENT ${VOLDEX_MAIN_COMPONENT})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/completion/voldex-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT ${VOLDEX_MAIN_COMPONENT})

# Manual pages and changelogs are installed compressed, as Debian has them
# (gzip -n: no name or time stamp, so that builds compare equal).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(VOLDEX_GZ_DIR ${CMAKE_BINARY_DIR}/compressed)
set(VOLDEX_GZ_FILES)
foreach(page voldex.1 voldex-cli.1)
  add_custom_command(OUTPUT ${VOLDEX_GZ_DIR}/${page}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${VOLDEX_GZ_DIR}
                     COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_SOURCE_DIR}/data/man/${page} > ${VOLDEX_GZ_DIR}/${page}.gz
                     DEPENDS ${CMAKE_SOURCE_DIR}/data/man/${page} VERBATIM)
  list(APPEND VOLDEX_GZ_FILES ${VOLDEX_GZ_DIR}/${page}.gz)
endforeach()
add_custom_command(OUTPUT ${VOLDEX_GZ_DIR}/changelog.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${VOLDEX_GZ_DIR}
                   COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_SOURCE_DIR}/debian/changelog > ${VOLDEX_GZ_DIR}/changelog.gz
                   DEPENDS ${CMAKE_SOURCE_DIR}/debian/changelog VERBATIM)
list(APPEND VOLDEX_GZ_FILES ${VOLDEX_GZ_DIR}/changelog.gz)
add_custom_target(voldex_compressed_docs ALL DEPENDS ${VOLDEX_GZ_FILES})
install(FILES ${VOLDEX_GZ_DIR}/voldex.1.gz ${VOLDEX_GZ_DIR}/voldex-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT ${VOLDEX_MAIN_COMPONENT})

# Each package carries its copyright and changelog.
foreach(package voldex voldex-dev)
  if(package STREQUAL voldex)
    set(component ${VOLDEX_MAIN_COMPONENT})
  else()
    set(component dev)
  endif()
  install(FILES ${CMAKE_SOURCE_DIR}/debian/copyright ${VOLDEX_GZ_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

install(FILES ${CMAKE_SOURCE_DIR}/include/voldex/plugin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/voldex COMPONENT dev)
# `pkg-config --cflags voldex-plugin`: the header needs no library, so the
# file is the same on every architecture.
configure_file(${CMAKE_SOURCE_DIR}/cmake/voldex-plugin.pc.in ${CMAKE_BINARY_DIR}/voldex-plugin.pc @ONLY)
# Written again at install time, so that it names the prefix installed
# into (cmake --install --prefix, or the package's) rather than the one
# configured.
install(CODE "
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/cmake/voldex-plugin.pc.in\" \"${CMAKE_BINARY_DIR}/voldex-plugin.pc\" @ONLY)
" COMPONENT dev)
install(FILES ${CMAKE_BINARY_DIR}/voldex-plugin.pc DESTINATION ${CMAKE_INSTALL_DATADIR}/pkgconfig COMPONENT dev)

set(CPACK_PACKAGE_NAME voldex)
set(CPACK_PACKAGE_VENDOR "Voldex developers")
set(CPACK_PACKAGE_CONTACT "The Voldex developers <maintainers@users.noreply.c-seed-7912c0e4.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${VOLDEX_MAIN_COMPONENT} dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_VOLDEX_PACKAGE_NAME voldex)
# Library dependencies come from the programs themselves (Qt 6, libfuse 3);
# fusermount3 comes with fuse3, and the window needs Qt's platform plug-ins.
set(CPACK_DEBIAN_VOLDEX_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_VOLDEX_PACKAGE_DEPENDS "fuse3, qt6-qpa-plugins")
set(CPACK_DEBIAN_VOLDEX_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME voldex-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The header is used without the program; a rebuild of either (a binNMU)
# never leaves the other uninstallable.
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS "voldex (>= ${PROJECT_VERSION})")
# Each package says its synopsis on the first line (so no common summary is
# set, which would come first); the lines below it stay under 80 columns.
string(CONCAT CPACK_DEBIAN_VOLDEX_DESCRIPTION
    "file manager for PC-9801 and X68000 disk images\n"
    "Voldex opens hard-disk and floppy images of PC-9801 and X68000 computers\n"
    "(plain dumps, Anex86, T98-Next, D88, DIM, partition tables, FAT12/16/32 and\n"
    "Human68k volumes) in an explorer window and on the command line, and mounts\n"
    "them as folders through FUSE.")
string(CONCAT CPACK_DEBIAN_DEV_DESCRIPTION
    "header for Voldex device plug-ins\n"
    "The C header that a plug-in library implements to give Voldex access to a\n"
    "kind of disk device or image that it does not read itself.")
set(CPACK_GENERATOR DEB)
include(CPack)
