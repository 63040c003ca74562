# SPDX-License-Identifier: Apache-2.0
# Compiler settings shared by every target of the project.
add_library(wct_options INTERFACE)
target_compile_options(wct_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                       -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wunused
                       -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
if(WCT_WERROR)
  target_compile_options(wct_options INTERFACE -Werror)
endif()

# Debian's hardening, as dpkg-buildflags gives it: stack protector, fortified C library
# calls, full RELRO with immediate binding, position-independent executables.
# _FORTIFY_SOURCE needs the optimiser, so an unoptimised build goes without it, and the
# sanitizer and fuzzing builds, whose checks go further, leave it out. A package is made
# from a build with all of them (WCT_PACKAGE_BUILD), and tested there.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
target_compile_options(wct_options INTERFACE -fstack-protector-strong)
target_link_options(wct_options INTERFACE LINKER:-z,relro LINKER:-z,now)
set(WCT_PACKAGE_BUILD OFF)
if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" AND NOT WCT_SANITIZE
   AND NOT WCT_TSAN AND NOT WCT_FUZZ)
  set(WCT_PACKAGE_BUILD ON)
  target_compile_definitions(wct_options INTERFACE _FORTIFY_SOURCE=2)
endif()
if(WCT_SANITIZE)
  target_compile_options(wct_options INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(wct_options INTERFACE -fsanitize=address,undefined)
endif()
if(WCT_TSAN)
  if(WCT_SANITIZE)
    message(FATAL_ERROR "WCT_TSAN and WCT_SANITIZE cannot be combined: build two trees")
  endif()
  target_compile_options(wct_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(wct_options INTERFACE -fsanitize=thread)
endif()
if(WCT_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "WCT_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # Every library carries the coverage the fuzzer steers by; only fuzz/ links its main.
  target_compile_options(wct_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                         -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(wct_options INTERFACE -fsanitize=address,undefined)
endif()

# wct_add_library(NAME SOURCES... [DEPS ...]): one core library per source folder.
function(wct_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC wct_options Threads::Threads ${ARG_DEPS})
endfunction()

# wct_add_tests(NAME LABEL label [SERIAL] SOURCES... DEPS ...): a GoogleTest executable
# whose cases are discovered by CTest and carry the given label (unit, integration, gui);
# SERIAL cases run while no other test does.
function(wct_add_tests name)
  cmake_parse_arguments(ARG "SERIAL" "LABEL" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE wct_options ${ARG_DEPS} GTest::gtest GTest::gmock
                        wct_test_main)
  set(serial "")
  if(ARG_SERIAL)
    set(serial RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name} PROPERTIES LABELS ${ARG_LABEL} ${serial} DISCOVERY_TIMEOUT 60)
endfunction()
