# The package extractor.
list(APPEND PACKAGE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/extractor.h
  ${CMAKE_CURRENT_LIST_DIR}/extractor.cpp)
