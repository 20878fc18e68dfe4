# The record of what an installed bundle holds, and its cheap check on every run.
list(APPEND LAUNCHER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/install-manifest.h
  ${CMAKE_CURRENT_LIST_DIR}/install-manifest.cpp)
