# The package extractor, and the entry table of the package module.
list(APPEND PACKAGE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/extractor.h
  ${CMAKE_CURRENT_LIST_DIR}/extractor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package-reader.h
  ${CMAKE_CURRENT_LIST_DIR}/package-reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/installed-scan.h
  ${CMAKE_CURRENT_LIST_DIR}/installed-scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package-module.h
  ${CMAKE_CURRENT_LIST_DIR}/package-module.cpp)
# The formats a package is read in, and the comparison of an installed copy
# with its package.
list(APPEND PACKAGE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/package-formats.h
  ${CMAKE_CURRENT_LIST_DIR}/package-formats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package-compare.h
  ${CMAKE_CURRENT_LIST_DIR}/package-compare.cpp)

# A zip's CRC-32 per entry comes from its central directory through zlib's
# minizip, and the installed files' CRC-32 from zlib: both belong to the
# package work, so they are linked where libarchive is, into the package
# objects (tests, tools) and the package module, never into the executable
# itself. Those targets are made after this fragment is read, hence the
# deferred call at the end of this folder.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LUMORA_MINIZIP REQUIRED IMPORTED_TARGET minizip)
find_package(ZLIB REQUIRED)
function(_lumora_link_package_zip)
  target_link_libraries(launcher_package_objects PUBLIC PkgConfig::LUMORA_MINIZIP ZLIB::ZLIB)
  if(TARGET lumora-package)
    target_link_libraries(lumora-package PRIVATE PkgConfig::LUMORA_MINIZIP ZLIB::ZLIB)
  endif()
endfunction()
cmake_language(DEFER CALL _lumora_link_package_zip)
