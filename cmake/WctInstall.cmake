# SPDX-License-Identifier: Apache-2.0
# Installation with the GNU directory layout, and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

set(wct_programs wct wct-sim)
if(TARGET wirelessconsoletest)
  list(APPEND wct_programs wirelessconsoletest)
endif()
install(TARGETS ${wct_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(wct_data ${PROJECT_SOURCE_DIR}/data)
set(wct_doc ${CMAKE_INSTALL_DATADIR}/doc/wirelessconsoletest)
set(CPACK_PACKAGE_CONTACT "WirelessConsoleTest developers <developers@wirelessconsoletest.org>")

install(FILES ${wct_data}/wirelessconsoletest.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The PNG is the SVG rendered at 128 px (rsvg-convert -w 128 -h 128), for desktops
# without an SVG loader; the window carries it too.
install(FILES ${wct_data}/wirelessconsoletest.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${wct_data}/wirelessconsoletest.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
# bash-completion loads a command's completion by its name; one script serves both.
install(FILES ${wct_data}/bash-completion/wct
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${wct_data}/bash-completion/wct RENAME wct-sim
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
# udev reads lib/udev/rules.d under the prefix (/usr/lib, /usr/local/lib), never the
# multiarch library directory. `wct udev-rule --install` writes a file of the same name
# to /etc/udev/rules.d, which takes this one's place and outlives upgrades.
install(FILES ${wct_data}/60-wct-dongle.rules DESTINATION lib/udev/rules.d)
# The Wireshark dissectors, where Debian's Wireshark loads its global Lua plugins
# (`tshark -G folders`: /usr/lib/<multiarch>/wireshark/plugins).
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(wct_wireshark_plugins lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
else()
  set(wct_wireshark_plugins lib/wireshark/plugins)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/wireshark/wct_dongle.lua
              ${PROJECT_SOURCE_DIR}/wireshark/wct_trainer.lua
        DESTINATION ${wct_wireshark_plugins})
# Debian keeps a package's documents under its package name.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${wct_data}/copyright DESTINATION ${wct_doc})

# The release's date: SOURCE_DATE_EPOCH when the builder sets it, else the last commit's,
# so that the same sources make the same package.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE commit_time
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(commit_time MATCHES "^[0-9]+$")
      set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
    endif()
  endif()
endif()
string(TIMESTAMP wct_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP wct_release_date "%Y-%m-%d" UTC)

# AppStream metadata, so that software centres list the window.
configure_file(${wct_data}/wirelessconsoletest.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/org.wirelessconsoletest.WirelessConsoleTest.metainfo.xml
               @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/org.wirelessconsoletest.WirelessConsoleTest.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

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

# A package whose version carries no Debian revision is native, and keeps its changelog
# as changelog.gz.
configure_file(${wct_data}/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${GZIP} -9n -c ${CMAKE_CURRENT_BINARY_DIR}/changelog > ${changelog}
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(wct_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${wct_doc})

set(CPACK_PACKAGE_NAME wirelessconsoletest)
set(CPACK_PACKAGE_VENDOR "WirelessConsoleTest")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test bench for wireless training consoles")
# Debian shows the description in 80 columns, after a space.
set(CPACK_PACKAGE_DESCRIPTION
  "A test bench for the wireless training consoles of indoor roll trainers,
reached through their USB dongle (a serial port). The window,
wirelessconsoletest, finds the dongle, lets consoles register, shows their live
measures, sends brake resistances, reads and writes console memory, runs the
consoles' self-tests and production checks, and traces every frame in hex to a
log file. wct does the same from a terminal, for scripts; wct-sim simulates the
dongle, its consoles and an older wired trainer on pseudo-terminals, so that
the bench runs without hardware. A udev rule gives the dialout group the
dongle's port; `wct udev-rule --install` names it /dev/wct-dongle.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# A umask that lets the group write must not reach the package's folders.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The libraries the programs link (Qt, libstdc++, libc) become the dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
include(CPack)
