# The package: the client bundle packed into the launcher bundle as
# Contents/Resources/package/tidewell.vxa, entry names relative to the bundle
# folder ("Contents/..."). A zip archive, because the launcher reads it twice
# and the first pass only counts entries: libarchive's zip reader seeks past
# each entry's data in a file, where a compressed tar would have to be
# decompressed in full.
#
# The launcher's Resources/INFO gets the package's SHA-256 digest as
# "package_sha256=" after the version keys.
#
# Included by the launcher's CMakeLists.txt it defines the target; run with
# cmake -P it packs the bundle when anything in it is newer than the archive.

if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DBSDTAR=<bsdtar> -DBUNDLE=<client bundle> -DOUTPUT=<archive> -P package.cmake
  if(NOT IS_DIRECTORY "${BUNDLE}/Contents")
    message(FATAL_ERROR "package: no client bundle at ${BUNDLE}")
  endif()
  set(stale FALSE)
  if(NOT EXISTS "${OUTPUT}")
    set(stale TRUE)
  else()
    file(GLOB_RECURSE members LIST_DIRECTORIES true "${BUNDLE}/Contents/*")
    foreach(member IN LISTS members ITEMS "${BUNDLE}/Contents")
      if("${member}" IS_NEWER_THAN "${OUTPUT}")
        set(stale TRUE)
        break()
      endif()
    endforeach()
  endif()
  if(stale)
    get_filename_component(out_dir "${OUTPUT}" DIRECTORY)
    file(MAKE_DIRECTORY "${out_dir}")
    file(REMOVE "${OUTPUT}.part")
    execute_process(COMMAND "${BSDTAR}" --format zip -cf "${OUTPUT}.part" -C "${BUNDLE}" Contents
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      file(REMOVE "${OUTPUT}.part")
      message(FATAL_ERROR "package: bsdtar failed (${rc})")
    endif()
    file(RENAME "${OUTPUT}.part" "${OUTPUT}")
    message(STATUS "package: wrote ${OUTPUT}")
  endif()
  # The launcher's INFO: the version keys of the template and the package's
  # digest, which the launcher checks before it installs the package.
  file(SHA256 "${OUTPUT}" digest)
  file(READ "${INFO_IN}" info)
  string(APPEND info "package_sha256=${digest}\n")
  set(current "")
  if(EXISTS "${INFO_OUT}")
    file(READ "${INFO_OUT}" current)
  endif()
  if(NOT current STREQUAL info)
    file(WRITE "${INFO_OUT}" "${info}")
  endif()
  return()
endif()

find_program(LUMORA_BSDTAR bsdtar REQUIRED)
set(LUMORA_PACKAGE_FILE "${LUMORA_LAUNCHER_BUNDLE_DIR}/Contents/Resources/package/tidewell.vxa")

add_custom_target(launcher_package ALL
  COMMAND ${CMAKE_COMMAND} -DBSDTAR=${LUMORA_BSDTAR} -DBUNDLE=${LUMORA_CLIENT_BUNDLE_DIR}
          -DOUTPUT=${LUMORA_PACKAGE_FILE} -DINFO_IN=${CMAKE_CURRENT_BINARY_DIR}/launcher-INFO
          -DINFO_OUT=${LUMORA_LAUNCHER_BUNDLE_DIR}/Contents/Resources/INFO -P ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Packing the client bundle into the launcher bundle"
  VERBATIM)
add_dependencies(launcher_package client_bundle launcher_bundle)
