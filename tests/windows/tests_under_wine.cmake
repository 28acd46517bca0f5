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
  PROPERTIES FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77)

# The console's stop requests, on a pseudo-terminal that Wine makes the
# test's console (script -e passes the test's exit status on).
add_executable(console_stop_requests_test windows/console_stop_requests_test.cpp
               ${PROJECT_SOURCE_DIR}/src/stop_requests_windows.cpp)
target_include_directories(console_stop_requests_test PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(console_stop_requests_test PRIVATE stop_waiting project_warnings)
target_link_options(console_stop_requests_test PRIVATE -static)
set(stop_requests_log ${CMAKE_CURRENT_BINARY_DIR}/console_stop_requests.log)
add_test(NAME windows_console_stop_requests
         COMMAND sh -c "script -qec \"wine '$0' '$1'\" /dev/null > /dev/null
                        status=$?
                        cat \"$1\"
                        exit $status"
                 $<TARGET_FILE:console_stop_requests_test> ${stop_requests_log})

# A vendor library that lacks a further call the driver makes, beside a
# copy of the program: refused at the open, naming the call.
set(lacking_folder ${CMAKE_CURRENT_BINARY_DIR}/library-lacking-a-call)
add_library(vendor_library_lacking_a_call SHARED incomplete_vendor_library.cpp)
target_compile_definitions(vendor_library_lacking_a_call PRIVATE LACKING_FT_GetModemStatus)
target_include_directories(vendor_library_lacking_a_call PRIVATE
                           ${PROJECT_SOURCE_DIR}/drivers/vendor_library)
target_link_libraries(vendor_library_lacking_a_call PRIVATE ftd2xx_interface)
target_link_options(vendor_library_lacking_a_call PRIVATE -static)
set_target_properties(vendor_library_lacking_a_call PROPERTIES OUTPUT_NAME FTD2XX PREFIX ""
                      RUNTIME_OUTPUT_DIRECTORY ${lacking_folder})
add_dependencies(vendor_library_lacking_a_call line-transmitter)
add_custom_command(TARGET vendor_library_lacking_a_call POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:line-transmitter> ${lacking_folder}/)
# No ";" in the expression: that would split it into several, any of which passes.
add_test(NAME windows_program_refuses_library_lacking_a_call
         COMMAND sh -c "printf 'AB\\n' | wine \"$0\"; echo \"exit $?\""
                 ${lacking_folder}/line-transmitter.exe)
set_tests_properties(windows_program_refuses_library_lacking_a_call PROPERTIES
  PASS_REGULAR_EXPRESSION "^line-transmitter: cannot open converter 0 \\(FTD2XX.dll lacks FT_GetModemStatus\\). nothing was sent. install [^\r\n]*\r?\nexit 1\n$")

set_tests_properties(
  windows_console_stop_requests windows_program_refuses_library_lacking_a_call
  PROPERTIES ENVIRONMENT "${wine_environment}" ENVIRONMENT_MODIFICATION "DISPLAY=unset:"
             FIXTURES_REQUIRED wine)

# The ZIP that a Windows user downloads, unpacked and run.
add_test(NAME windows_download_runs_from_its_folder
         COMMAND ${CMAKE_COMMAND} -DCPACK=${CMAKE_CPACK_COMMAND}
                 -DCPACK_CONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake
                 -DSTAND_IN=$<TARGET_FILE:stand_in_vendor_library>
                 -DWORK=${CMAKE_CURRENT_BINARY_DIR}/download
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/windows/download_test.cmake)
set_tests_properties(windows_download_runs_from_its_folder PROPERTIES
  ENVIRONMENT "${wine_environment}" ENVIRONMENT_MODIFICATION "DISPLAY=unset:"
  FIXTURES_REQUIRED wine)
