# Installation in the standard layout and the Debian package.
#
#   bin/tessivo, bin/tessivo-tool          RUNPATH $ORIGIN/../lib/tessivo
#   lib/tessivo/libmmmpeg32.so             the decoder library, private to the program
#   share/applications, share/icons        the desktop entry and the icon
#   share/doc/tessivo, share/man/man1      copyright, changelog and the manual pages
#
# The program looks for the decoder library beside itself first (the build folder), then
# through its RUNPATH; it reads BaseQuelt.ini beside itself, then from the user's and the
# system's configuration folders, and keeps Temp.wav in the user's cache folder when its own
# folder is not writable.
include(GNUInstallDirs)

set(TESSIVO_PRIVATE_LIBDIR lib/tessivo)
file(RELATIVE_PATH bin_to_lib /${CMAKE_INSTALL_BINDIR} /${TESSIVO_PRIVATE_LIBDIR})
set_target_properties(tessivo tessivo-tool PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")

install(TARGETS tessivo tessivo-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS mmmpeg32 LIBRARY DESTINATION ${TESSIVO_PRIVATE_LIBDIR} NAMELINK_SKIP)
install(FILES resources/tessivo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/icons/tessivo.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tessivo)
install(FILES packaging/copyright DESTINATION ${docdir})

# Debian wants the changelog and the manual pages compressed, byte-for-byte the same on every build.
set(compressed)
foreach(source packaging/changelog packaging/tessivo.1 packaging/tessivo-tool.1)
  get_filename_component(name ${source} NAME)
  set(gz ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/${source} > ${gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND compressed ${gz})
endforeach()
add_custom_target(tessivo_packaging ALL DEPENDS ${compressed})
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/tessivo.1.gz ${CMAKE_BINARY_DIR}/packaging/tessivo-tool.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${changelog_gz} DESTINATION ${docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessivo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tessivo developers <tessivo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cue point editor for radio station music files")
# CPack puts the summary first; the rest is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tessivo shows the waveform of one MP3, plays any selection and lets the
station's staff mark its cue points (intro, start, end, chorus and mix
point), pick a stamp jingle from the station's catalogue and write a
comment, all saved into the ID3v2 tag of the file for the playout system.

tessivo-tool reads and writes the same tag from scripts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/tessivo")
# The libraries linked are found by dpkg-shlibdeps. What is only loaded at run time cannot be:
# the X11 platform plugin of Qt (the window), and as recommendations Firebird's embedded engine
# (a local catalogue file), the ALSA plugin to the desktop's sound server, and a font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "firebird3.0-server-core, libasound2-plugins, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SET_DESTDIR OFF)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
