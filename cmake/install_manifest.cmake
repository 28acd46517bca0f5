# The last install step: a `cmake --install` straight onto a machine keeps
# its own list of the files it wrote, with their digests, the folders it
# created (install_folders.cmake), and the script that removes exactly
# those, in PREFIX/share/line-transmitter. Not for a
# staged install (DESTDIR set, as cpack does): a package's files are its
# package manager's. build/.../install_manifest.txt cannot serve, as every
# install (cpack's, the tests') rewrites it.
install(CODE "set(uninstall_script \"${CMAKE_CURRENT_LIST_DIR}/uninstall.sh\")")
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    set(own_folder "${CMAKE_INSTALL_PREFIX}/share/line-transmitter")
    file(INSTALL "${uninstall_script}" DESTINATION "${own_folder}"
         RENAME uninstall FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(manifest "")
    foreach(installed IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
      file(SHA256 "${installed}" digest)
      string(APPEND manifest "${digest} ${installed}\n")
    endforeach()
    file(WRITE "${own_folder}/installed-files" "${manifest}")
    # The folders this install created, deepest first, with those an
    # earlier install here created and left.
    set(created "${folders_created}")
    if(EXISTS "${own_folder}/created-folders")
      file(STRINGS "${own_folder}/created-folders" earlier)
      list(APPEND created ${earlier})
    endif()
    list(REMOVE_DUPLICATES created)
    list(SORT created ORDER DESCENDING)
    list(JOIN created "\n" created)
    file(WRITE "${own_folder}/created-folders" "${created}\n")
    message(STATUS "Uninstall with: sh ${own_folder}/uninstall")
  endif()
]])
