# Run by CPack once the package's files are staged: the desktop entry was
# made for the prefix the build was configured with; the package may be made
# for another (cpack -D CPACK_PACKAGING_INSTALL_PREFIX=/usr). It then names
# the command as that prefix needs it: by name under /usr, else by path.
file(GLOB_RECURSE _entries "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/vorza.desktop")
if(CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  set(_exec vorza)
else()
  set(_exec "${CPACK_PACKAGING_INSTALL_PREFIX}/bin/vorza")
endif()
foreach(_entry IN LISTS _entries)
  file(READ "${_entry}" _text)
  string(REGEX REPLACE "\nExec=[^\n]*\n" "\nExec=${_exec}\n" _text "${_text}")
  file(WRITE "${_entry}" "${_text}")
endforeach()
