# What `cmake --install` puts where, and the Debian package made by
# `cpack -G DEB`.

install(TARGETS voldex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET voldex)
  install(TARGETS voldex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/profiles/voldex-profiles.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/voldex)
install(FILES ${CMAKE_SOURCE_DIR}/data/voldex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/voldex-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME voldex.xml)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/voldex.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/data/man/voldex.1 ${CMAKE_SOURCE_DIR}/data/man/voldex-cli.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/data/completion/voldex-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${CMAKE_SOURCE_DIR}/include/voldex/plugin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/voldex)

set(CPACK_PACKAGE_NAME voldex)
set(CPACK_PACKAGE_VENDOR "Voldex")
set(CPACK_PACKAGE_CONTACT "Voldex developers <voldex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "File manager for PC-9801 and X68000 disk images")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Voldex opens hard-disk and floppy images of PC-9801 and X68000 computers (plain dumps, Anex86, T98-Next, "
    "partition tables, FAT12/16/32 and Human68k volumes) in an explorer window and on the command line, and "
    "mounts them as folders through FUSE.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Library dependencies come from the programs themselves (Qt 6, libfuse 3);
# fusermount3 comes with fuse3.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fuse3")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")
set(CPACK_GENERATOR DEB)
include(CPack)
