# The package extractor.
list(APPEND LAUNCHER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/extractor.h
  ${CMAKE_CURRENT_LIST_DIR}/extractor.cpp)
