# Run by cpack after it has written the .deb (CPACK_POST_BUILD_SCRIPTS): takes
# the folders named in CPACK_LUMORA_DROP_DIRECTORIES (as the data archive
# names them, "./opt/") out of the package's data archive, with
# deb-drop-directories.py. CPack lists every parent folder of what it
# installs; a folder the system makes (/opt, from base-files) must not be the
# package's, or removing the package tries to remove it and dpkg warns that
# it is not empty. Only the folder's own entry goes: what lies below it stays.
foreach(_var CPACK_PACKAGE_FILES CPACK_LUMORA_PYTHON CPACK_LUMORA_DROP_SCRIPT CPACK_LUMORA_DROP_DIRECTORIES)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "deb-drop-directories.cmake: ${_var} is not set")
  endif()
endforeach()

foreach(_deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _deb MATCHES "\\.deb$")
    continue()
  endif()
  execute_process(COMMAND "${CPACK_LUMORA_PYTHON}" "${CPACK_LUMORA_DROP_SCRIPT}" "${_deb}"
                          ${CPACK_LUMORA_DROP_DIRECTORIES}
    RESULT_VARIABLE _rc ERROR_VARIABLE _error)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "deb-drop-directories.cmake: deb-drop-directories.py ${_deb} failed (${_rc}): ${_error}")
  endif()
endforeach()
