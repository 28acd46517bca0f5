set(LINE_TRANSMITTER_HOST_TEST_RUNNER "" CACHE FILEPATH
    "The Linux build's program_tests, which runs this Windows build under Wine")
if(NOT CMAKE_CROSSCOMPILING OR NOT LINE_TRANSMITTER_HOST_TEST_RUNNER)
  message(STATUS "Windows build: no tests (they run under Wine when cross-compiling)")
  return()
endif()

# TMPDIR too: Wine makes its server's folder there, and leaves it.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/wine-tmp)
set(wine_environment
  WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all TMPDIR=${CMAKE_BINARY_DIR}/wine-tmp)
set(wine_session ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_session.sh)

add_test(NAME wine_session_start COMMAND ${wine_session} start)
add_test(NAME wine_session_stop COMMAND ${wine_session} stop)
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)

add_test(NAME windows_program_on_stand_in_ftd2xx_dll
         COMMAND ${LINE_TRANSMITTER_HOST_TEST_RUNNER} --launcher=wine
                 --program=$<TARGET_FILE:line-transmitter> --windows --loads-library)
add_test(NAME windows_program_on_simulated_converter
         COMMAND ${LINE_TRANSMITTER_HOST_TEST_RUNNER} --launcher=wine
                 --program=$<TARGET_FILE:line-transmitter-sim> --windows)
set_tests_properties(
  wine_session_start wine_session_stop
  windows_program_on_stand_in_ftd2xx_dll windows_program_on_simulated_converter
  PROPERTIES ENVIRONMENT "${wine_environment}" ENVIRONMENT_MODIFICATION "DISPLAY=unset:")
set_tests_properties(
  windows_program_on_stand_in_ftd2xx_dll windows_program_on_simulated_converter
  PROPERTIES FIXTURES_REQUIRED wine)
