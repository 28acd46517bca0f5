# The Windows build's process tests run its programs under Wine from a
# Linux program, the process tests' runner (tests/program_test.cpp). It is
# built here, for the build machine with its own compiler, in a build of its
# own under this one, so that the Windows build needs no other build first.
# LINE_TRANSMITTER_HOST_TEST_RUNNER, where given, names one to use instead.
if(LINE_TRANSMITTER_HOST_TEST_RUNNER)
  return()
endif()
find_path(HOST_GTEST_INCLUDE gtest/gtest.h NO_CMAKE_FIND_ROOT_PATH)
if(NOT HOST_GTEST_INCLUDE)
  message(FATAL_ERROR "The Windows build's tests under Wine need GoogleTest on this machine "
                      "(Debian: libgtest-dev; scripts/install-build-deps windows installs it)")
endif()
include(ExternalProject)
set(host_build ${CMAKE_BINARY_DIR}/host-test-runner)
ExternalProject_Add(host_test_runner
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${host_build}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINE_TRANSMITTER_WERROR=ON
             -DLINE_TRANSMITTER_QEMU_TESTS=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${host_build} --target program_tests
  BUILD_ALWAYS TRUE  # its own build decides what is out of date
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${host_build}/tests/program_tests)
set(LINE_TRANSMITTER_HOST_TEST_RUNNER ${host_build}/tests/program_tests)
