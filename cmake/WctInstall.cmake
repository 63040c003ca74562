# Installation with the GNU directory layout, and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

set(wct_programs wct wct-sim)
if(TARGET wirelessconsoletest)
  list(APPEND wct_programs wirelessconsoletest)
endif()
install(TARGETS ${wct_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(wct_data ${PROJECT_SOURCE_DIR}/data)
install(FILES ${wct_data}/wirelessconsoletest.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${wct_data}/wirelessconsoletest.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${wct_data}/bash-completion/wct
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
# udev reads lib/udev/rules.d under the prefix (/usr/lib, /usr/local/lib), never the
# multiarch library directory.
install(FILES ${wct_data}/60-wct-dongle.rules DESTINATION lib/udev/rules.d)
# Debian keeps a package's documents under its package name.
install(FILES ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/wirelessconsoletest)

# Man pages go compressed, as Debian keeps them.
find_program(GZIP gzip REQUIRED)
set(wct_man_pages)
foreach(page wct wct-sim wirelessconsoletest)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND ${GZIP} -9n -c ${wct_data}/man/${page}.1 > ${compressed}
    DEPENDS ${wct_data}/man/${page}.1 VERBATIM)
  list(APPEND wct_man_pages ${compressed})
endforeach()
add_custom_target(wct_man_pages ALL DEPENDS ${wct_man_pages})
install(FILES ${wct_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME wirelessconsoletest)
set(CPACK_PACKAGE_VENDOR "WirelessConsoleTest")
set(CPACK_PACKAGE_CONTACT "WirelessConsoleTest developers <wirelessconsoletest@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test bench for wireless training consoles")
set(CPACK_PACKAGE_DESCRIPTION
  "A test bench for the wireless training consoles of indoor roll trainers, reached
through their USB dongle (a serial port). The window, wirelessconsoletest, finds the
dongle, lets consoles register, shows their live measures, sends brake resistances,
reads and writes console memory, runs the consoles' self-tests and traces every frame
in hex to a log file. wct does the same from a terminal, for scripts; wct-sim
simulates the dongle, its consoles and an older wired trainer on pseudo-terminals, so
that the bench runs without hardware. A udev rule gives the dongle's port to the
dialout group and the name /dev/wct-dongle once its USB identity is filled in.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://localhost/wirelessconsoletest")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The libraries the programs link (Qt, libstdc++, libc) become the dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
include(CPack)
