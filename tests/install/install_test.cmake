# SPDX-License-Identifier: Apache-2.0
# Installs the build in BUILD_DIR under /usr into a fresh DESTDIR, checks the files and
# runs the installed wct, then removes the DESTDIR.
string(RANDOM LENGTH 10 suffix)
set(tmp "$ENV{TMPDIR}")
if(NOT tmp)
  set(tmp /tmp)
endif()
set(destdir ${tmp}/wct-install-${suffix})

function(fail message)
  file(REMOVE_RECURSE ${destdir})
  message(FATAL_ERROR "${message}")
endfunction()

set(ENV{DESTDIR} ${destdir})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  fail("cmake --install failed: ${output}")
endif()

set(root ${destdir}/usr)
set(expected
  bin/wct bin/wct-sim
  share/applications/wirelessconsoletest.desktop
  share/icons/hicolor/scalable/apps/wirelessconsoletest.svg
  share/icons/hicolor/128x128/apps/wirelessconsoletest.png
  share/metainfo/org.wirelessconsoletest.WirelessConsoleTest.metainfo.xml
  share/man/man1/wct.1.gz share/man/man1/wct-sim.1.gz share/man/man1/wirelessconsoletest.1.gz
  share/bash-completion/completions/wct share/bash-completion/completions/wct-sim
  lib/udev/rules.d/60-wct-dongle.rules
  share/doc/wirelessconsoletest/README.md share/doc/wirelessconsoletest/copyright
  share/doc/wirelessconsoletest/changelog.gz)
if(WITH_GUI)
  list(APPEND expected bin/wirelessconsoletest)
endif()
foreach(file ${expected})
  if(NOT EXISTS ${root}/${file})
    fail("not installed: /usr/${file}")
  endif()
endforeach()

# The packaged rule works unedited: the dialout group, and no identity left to fill in.
file(READ ${root}/lib/udev/rules.d/60-wct-dongle.rules rule)
if(NOT rule MATCHES "GROUP=\"dialout\"" OR rule MATCHES "==\"0000\"")
  fail("the udev rule does not give the dialout group, or waits for an identity")
endif()

find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
  execute_process(COMMAND ${VALIDATE} ${root}/share/applications/wirelessconsoletest.desktop
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0 OR output)
    fail("desktop-file-validate: ${output}")
  endif()
endif()

execute_process(COMMAND bash -n ${root}/share/bash-completion/completions/wct
                RESULT_VARIABLE result ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  fail("the bash completion does not parse: ${output}")
endif()

# The installed programs answer --version without a display.
set(programs wct wct-sim)
if(WITH_GUI)
  list(APPEND programs wirelessconsoletest)
endif()
foreach(program ${programs})
  execute_process(COMMAND ${root}/bin/${program} --version RESULT_VARIABLE result
                  OUTPUT_VARIABLE output ERROR_VARIABLE error)
  if(NOT result EQUAL 0 OR NOT output MATCHES "^${program} [0-9]+\\.[0-9]+\n$")
    fail("installed ${program} --version: ${result} '${output}' '${error}'")
  endif()
endforeach()
file(REMOVE_RECURSE ${destdir})
