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

# Every text file with Windows line ends: a CR LF ends each line, and no
# CR or LF stands alone.
# (Read as hexadecimal: file(READ) drops the CR of a CR LF.)
foreach(text README.txt LICENSE.txt line-transmitter-manual.txt)
  file(READ ${folder}/${text} hex HEX)
  string(REGEX REPLACE "(..)" " \\1" bytes "${hex}")
  string(REPLACE " 0d 0a" "" alone "${bytes}")
  if(NOT bytes MATCHES " 0d 0a$" OR alone MATCHES " 0[ad]")
    message(FATAL_ERROR "${text} has not CR LF at the end of every line")
  endif()
endforeach()

file(READ ${folder}/line-transmitter-manual.txt manual)
string(ASCII 8 backspace)
string(ASCII 27 escape)
if(NOT manual MATCHES "NAME\r?\n +line-transmitter - send lines" OR manual MATCHES "${backspace}|${escape}")
  message(FATAL_ERROR "the manual is not plain text:\n${manual}")
endif()

# A Windows user's README, not the project's: the driver it needs and how
# to run it, no Linux build or install steps.
file(READ ${folder}/README.txt readme)
if(NOT readme MATCHES "FTD2XX\\.dll" OR NOT readme MATCHES "line-transmitter < commands\\.txt"
   OR readme MATCHES "apt-get|dpkg|Debian|sudo|/dev/tty|cmake")
  message(FATAL_ERROR "README.txt is not the Windows user's:\n${readme}")
endif()

file(COPY ${STAND_IN} DESTINATION ${folder})
file(WRITE ${WORK}/input "AB\n")
execute_process(COMMAND wine ${folder}/line-transmitter.exe INPUT_FILE ${WORK}/input
                OUTPUT_VARIABLE wire ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT wire STREQUAL "AB\n" OR NOT errors STREQUAL "")
  message(FATAL_ERROR "the unpacked program sent '${wire}', said '${errors}', exit ${status}")
endif()
