# The launcher object, its worker thread, the progress dialog, the warning
# shown when the client could not be started, and the progress relay.
list(APPEND LAUNCHER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/launcher.h
  ${CMAKE_CURRENT_LIST_DIR}/launcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/failure-box.h
  ${CMAKE_CURRENT_LIST_DIR}/failure-box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/notify-adapter.h
  ${CMAKE_CURRENT_LIST_DIR}/notify-adapter.cpp)
list(APPEND LAUNCHER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/platform/colour-scheme.h)
if(APPLE)
  list(APPEND LAUNCHER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/platform/colour-scheme-mac.cpp)
else()
  list(APPEND LAUNCHER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/platform/colour-scheme-linux.cpp)
endif()
