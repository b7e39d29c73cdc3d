# GoogleTest for the test programs: the installed package where there is one
# for the target (Debian's libgtest-dev is for Linux only); otherwise built
# from sources, by default those that Debian's googletest package ships, so
# that a cross build (mingw-w64) needs nothing downloaded.
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  set(USBKEY_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources, built when no GoogleTest is installed for the target")
  if(NOT EXISTS "${USBKEY_GOOGLETEST_SOURCE}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest was found neither installed nor as sources in '${USBKEY_GOOGLETEST_SOURCE}'. "
                        "Install it (Debian: libgtest-dev, or googletest for the sources), set "
                        "USBKEY_GOOGLETEST_SOURCE, or configure with -DBUILD_TESTING=OFF.")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE) # MSVC: the runtime our targets use
  add_subdirectory("${USBKEY_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest) # newer sources name them so themselves
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
include(GoogleTest)

# Registers the tests of a GoogleTest program with ctest. A cross build lists
# them when ctest runs (through CMAKE_CROSSCOMPILING_EMULATOR, e.g. wine), so
# that building needs no way of running the target's programs.
function(usbkey_discover_tests target)
  if(CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${ARGN})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 ${ARGN})
  endif()
endfunction()
