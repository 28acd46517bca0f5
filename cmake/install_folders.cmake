# The first install step: which folders that the install writes into do not
# exist yet, so that the uninstall removes those it created, once they are
# empty, and no folder that was there before. Read at the last step
# (install_manifest.cmake); not for a staged install (DESTDIR set).
set(destinations ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}/man1 ${CMAKE_INSTALL_DOCDIR}
    share/line-transmitter)  # the uninstall's own
install(CODE "set(install_destinations \"${destinations}\")")
install(CODE [[
  set(folders_created "")
  if("$ENV{DESTDIR}" STREQUAL "")
    foreach(destination IN LISTS install_destinations)
      if(NOT IS_ABSOLUTE "${destination}")
        set(destination "${CMAKE_INSTALL_PREFIX}/${destination}")
      endif()
      # The folder and each above it, up to the first that exists.
      while(NOT EXISTS "${destination}")
        list(APPEND folders_created "${destination}")
        get_filename_component(destination "${destination}" DIRECTORY)
      endwhile()
    endforeach()
  endif()
]])
