# The upgrade service and the platform layer it starts and stops the client with.
set(_service_dir ${CMAKE_CURRENT_LIST_DIR})
# The package check it runs before anything is moved.
list(APPEND PACKAGE_SOURCES
  ${_service_dir}/sha256-file.h
  ${_service_dir}/sha256-file.cpp)
list(APPEND LAUNCHER_SOURCES
  ${_service_dir}/cloud-service.h
  ${_service_dir}/cloud-service.cpp
  ${_service_dir}/install-repair.cpp
  ${_service_dir}/package-tools.h
  ${_service_dir}/mac/mac-service.h
  ${_service_dir}/mac/mac-service.cpp
  ${_service_dir}/platform/app-registry.h
  ${_service_dir}/platform/app-opener.h
  ${_service_dir}/platform/process-control.h
  ${_service_dir}/platform/platform-current.cpp
  ${_service_dir}/platform/system-process-control.h
  ${_service_dir}/platform/system-process-control.cpp
  ${_service_dir}/platform/bundle-info.h
  ${_service_dir}/platform/bundle-info.cpp
  ${_service_dir}/platform/desktop-entry.h
  ${_service_dir}/platform/desktop-entry.cpp)
if(APPLE)
  list(APPEND LAUNCHER_SOURCES
    ${_service_dir}/platform/mac-app-registry.h
    ${_service_dir}/platform/mac-app-registry.cpp
    ${_service_dir}/platform/mac-app-opener.h
    ${_service_dir}/platform/mac-app-opener.cpp)
else()
  list(APPEND LAUNCHER_SOURCES
    ${_service_dir}/platform/linux-app-registry.h
    ${_service_dir}/platform/linux-app-registry.cpp
    ${_service_dir}/platform/linux-app-opener.h
    ${_service_dir}/platform/linux-app-opener.cpp
    ${_service_dir}/platform/spawn.h
    ${_service_dir}/platform/spawn-posix.cpp)
endif()
