# The Windows download as a user gets it: makes the ZIP with cpack, unpacks
# it, checks what it holds, puts the stand-in FTD2XX.dll beside the program
# (as the vendor's driver would be found there) and sends AB under Wine.
#   cmake -DCPACK=... -DCPACK_CONFIG=... -DSTAND_IN=... -DWORK=... -P download_test.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/unpacked)
execute_process(COMMAND ${CPACK} -G ZIP --config ${CPACK_CONFIG} -B ${WORK}/package
                RESULT_VARIABLE packed OUTPUT_QUIET)
file(GLOB archives ${WORK}/package/*.zip)
if(NOT packed EQUAL 0 OR NOT archives)
  message(FATAL_ERROR "cpack made no ZIP (status ${packed})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${archives} WORKING_DIRECTORY ${WORK}/unpacked)

file(GLOB_RECURSE unpacked RELATIVE ${WORK}/unpacked ${WORK}/unpacked/*)
list(SORT unpacked)
set(expected line-transmitter-manual.txt line-transmitter.exe LICENSE.txt README.txt)
foreach(name ${unpacked})
  get_filename_component(folder ${name} DIRECTORY)
  get_filename_component(file ${name} NAME)
  list(APPEND files ${file})
  list(APPEND folders ${folder})
endforeach()
list(REMOVE_DUPLICATES folders)
list(SORT files)
list(SORT expected)
list(LENGTH folders folderCount)
if(NOT files STREQUAL expected OR NOT folderCount EQUAL 1)
  message(FATAL_ERROR "the ZIP holds ${unpacked}, not one folder with ${expected}")
endif()
set(folder ${WORK}/unpacked/${folders})

file(READ ${folder}/line-transmitter-manual.txt manual)
string(ASCII 8 backspace)
string(ASCII 27 escape)
if(NOT manual MATCHES "NAME\n +line-transmitter - send lines" OR manual MATCHES "${backspace}|${escape}")
  message(FATAL_ERROR "the manual is not plain text:\n${manual}")
endif()

file(COPY ${STAND_IN} DESTINATION ${folder})
file(WRITE ${WORK}/input "AB\n")
execute_process(COMMAND wine ${folder}/line-transmitter.exe INPUT_FILE ${WORK}/input
                OUTPUT_VARIABLE wire ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT wire STREQUAL "AB\n" OR NOT errors STREQUAL "")
  message(FATAL_ERROR "the unpacked program sent '${wire}', said '${errors}', exit ${status}")
endif()
