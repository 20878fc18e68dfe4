# The package extractor, and the entry table of the package module.
list(APPEND PACKAGE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/extractor.h
  ${CMAKE_CURRENT_LIST_DIR}/extractor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package-module.h
  ${CMAKE_CURRENT_LIST_DIR}/package-module.cpp)
# The formats a package is read in, and the comparison of an installed copy
# with its package.
list(APPEND PACKAGE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/package-formats.h
  ${CMAKE_CURRENT_LIST_DIR}/package-formats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package-compare.h
  ${CMAKE_CURRENT_LIST_DIR}/package-compare.cpp)
