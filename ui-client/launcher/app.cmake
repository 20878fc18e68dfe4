# The launcher executable and its application bundle:
#   Lumora Launcher.app/Contents/MacOS/lumora-launcher
#   Lumora Launcher.app/Contents/Resources/{INFO, images/ico_72_tidewell.png, log/launcher.debug}
#   Lumora Launcher.app/Contents/Frameworks/plugins/<kind>/<plug-in>
# The executable finds its plug-ins and resources relative to itself, so the
# bundle runs from wherever it is copied to.
set(_bundle_contents "${LUMORA_LAUNCHER_BUNDLE_DIR}/Contents")
set(_bundle_resources "${_bundle_contents}/Resources")
set(_bundle_plugins "${_bundle_contents}/Frameworks/plugins")

# Start-up helpers without logging, shared by the executable and its tests.
if(APPLE)
  set(_executable_path_source ${CMAKE_CURRENT_LIST_DIR}/platform/executable-path-mac.cpp)
else()
  set(_executable_path_source ${CMAKE_CURRENT_LIST_DIR}/platform/executable-path-linux.cpp)
endif()
add_library(launcher_startup STATIC
  ${CMAKE_CURRENT_LIST_DIR}/app-startup.cpp ${CMAKE_CURRENT_LIST_DIR}/app-startup.h
  ${CMAKE_CURRENT_LIST_DIR}/platform/executable-path.h ${_executable_path_source})
target_include_directories(launcher_startup PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(launcher_startup PUBLIC Qt5::Core Qt5::Gui)

add_executable(lumora-launcher ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(lumora-launcher PRIVATE launcher_startup wyxqt logger)
set_target_properties(lumora-launcher PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY "${_bundle_contents}/MacOS"
  SKIP_BUILD_RPATH OFF
  BUILD_WITH_INSTALL_RPATH OFF)
if(APPLE)
  target_link_libraries(lumora-launcher PRIVATE launcher_core)
else()
  # libarchive and libcrypto come with the package module
  # (Contents/Frameworks/liblumora-package.so), loaded only by a run that
  # installs; a run with nothing to install starts without them. The module
  # calls back into the executable (logger, texts, progress relay), which
  # exports its symbols for it.
  target_sources(lumora-launcher PRIVATE ${CMAKE_CURRENT_LIST_DIR}/package-tools-module.cpp)
  target_link_libraries(lumora-launcher PRIVATE launcher_objects ${CMAKE_DL_LIBS})
  set_target_properties(lumora-launcher PROPERTIES ENABLE_EXPORTS ON)

  add_library(lumora-package MODULE $<TARGET_OBJECTS:launcher_package_objects>)
  # Usage requirements only: the logger, texts and string type are the executable's.
  target_include_directories(lumora-package PRIVATE
    $<TARGET_PROPERTY:launcher_objects,INTERFACE_INCLUDE_DIRECTORIES>
    $<TARGET_PROPERTY:ustring,INTERFACE_INCLUDE_DIRECTORIES>
    $<TARGET_PROPERTY:logger,INTERFACE_INCLUDE_DIRECTORIES>)
  target_link_libraries(lumora-package PRIVATE Qt5::Core LibArchive::LibArchive OpenSSL::Crypto)
  set_target_properties(lumora-package PROPERTIES
    LINKER_LANGUAGE CXX
    OUTPUT_NAME lumora-package
    LIBRARY_OUTPUT_DIRECTORY "${_bundle_contents}/Frameworks")
  add_dependencies(lumora-launcher lumora-package)
endif()
lumora_log_source_names(lumora-launcher ${CMAKE_CURRENT_LIST_DIR})

# The dialog icon, drawn by a small tool of ours.
add_executable(lumora_make_icon ${CMAKE_CURRENT_LIST_DIR}/bundle/make-icon.cpp)
target_link_libraries(lumora_make_icon PRIVATE Qt5::Gui)

configure_file(${PROJECT_SOURCE_DIR}/cmake/INFO.in ${CMAKE_CURRENT_BINARY_DIR}/launcher-INFO @ONLY)

set(_bundle_outputs
  "${_bundle_resources}/INFO"
  "${_bundle_resources}/log/launcher.debug"
  "${_bundle_resources}/images/ico_72_tidewell.png")

add_custom_command(OUTPUT "${_bundle_resources}/INFO"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${_bundle_resources}"
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_BINARY_DIR}/launcher-INFO "${_bundle_resources}/INFO"
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/launcher-INFO
  VERBATIM)
add_custom_command(OUTPUT "${_bundle_resources}/log/launcher.debug"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${_bundle_resources}/log"
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/bundle/launcher.debug
          "${_bundle_resources}/log/launcher.debug"
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/bundle/launcher.debug
  VERBATIM)
# The tool is built with the sanitizers of the build; leak reports from the
# toolkit's globals must not fail the build.
add_custom_command(OUTPUT "${_bundle_resources}/images/ico_72_tidewell.png"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${_bundle_resources}/images"
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:lumora_make_icon> "${_bundle_resources}/images/ico_72_tidewell.png"
  DEPENDS lumora_make_icon
  VERBATIM)

# Plug-ins, copied from the Qt installation as a deployment tool would:
# platforms (xcb for an X11 desktop, wayland for a Wayland one, offscreen and
# minimal for headless runs), the GL integrations that xcb loads, what the
# wayland platform loads (shell integrations, the client-side window
# decoration, the EGL buffer integration) and the GTK 3 platform theme, which
# Qt picks on GTK-based desktops for their fonts, icon theme and dialogs (in
# Qt 5.15 it does not pass on GTK's colours, so a dark desktop theme leaves the
# dialog light).
# The executable's library path is this plug-in folder alone, so whatever the
# toolkit loads at run time must be in it.
set(_bundle_plugin_targets
  platforms Qt5::QXcbIntegrationPlugin
  platforms Qt5::QOffscreenIntegrationPlugin
  platforms Qt5::QMinimalIntegrationPlugin
  xcbglintegrations Qt5::QXcbGlxIntegrationPlugin
  xcbglintegrations Qt5::QXcbEglIntegrationPlugin)
# Without CMake targets in Debian's packages (qtwayland5, qt5-gtk-platformtheme):
# found by path under the toolkit's plug-in folder.
set(_bundle_plugin_files
  platforms/libqwayland-generic.so
  platforms/libqwayland-egl.so
  wayland-shell-integration/libxdg-shell.so
  wayland-shell-integration/libxdg-shell-v6.so
  wayland-shell-integration/libwl-shell.so
  wayland-decoration-client/libbradient.so
  wayland-graphics-integration-client/libqt-plugin-wayland-egl.so
  platformthemes/libqgtk3.so)

if(NOT LUMORA_QT_PLUGIN_DIR)
  get_target_property(_qmake Qt5::qmake IMPORTED_LOCATION)
  execute_process(COMMAND "${_qmake}" -query QT_INSTALL_PLUGINS
                  OUTPUT_VARIABLE _qt_plugins OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0 OR NOT IS_DIRECTORY "${_qt_plugins}")
    message(FATAL_ERROR "launcher bundle: '${_qmake} -query QT_INSTALL_PLUGINS' failed")
  endif()
  set(LUMORA_QT_PLUGIN_DIR "${_qt_plugins}" CACHE PATH "The toolkit's plug-in folder, copied from into the bundle")
endif()

set(_bundle_plugin_sources "")  # <kind>/<file name>=<source path>
list(LENGTH _bundle_plugin_targets _count)
math(EXPR _last "${_count} - 1")
foreach(_i RANGE 0 ${_last} 2)
  math(EXPR _j "${_i} + 1")
  list(GET _bundle_plugin_targets ${_i} _kind)
  list(GET _bundle_plugin_targets ${_j} _target)
  if(NOT TARGET ${_target})
    message(STATUS "launcher bundle: Qt plug-in ${_target} not installed, skipped")
    continue()
  endif()
  get_target_property(_location ${_target} LOCATION)
  get_filename_component(_name "${_location}" NAME)
  list(APPEND _bundle_plugin_sources "${_kind}/${_name}=${_location}")
endforeach()
set(LUMORA_BUNDLE_MISSING_PLUGINS "")
foreach(_file IN LISTS _bundle_plugin_files)
  if(NOT EXISTS "${LUMORA_QT_PLUGIN_DIR}/${_file}")
    list(APPEND LUMORA_BUNDLE_MISSING_PLUGINS "${_file}")
    continue()
  endif()
  list(APPEND _bundle_plugin_sources "${_file}=${LUMORA_QT_PLUGIN_DIR}/${_file}")
endforeach()
if(LUMORA_BUNDLE_MISSING_PLUGINS)
  message(WARNING "launcher bundle: not in ${LUMORA_QT_PLUGIN_DIR}, left out: ${LUMORA_BUNDLE_MISSING_PLUGINS} "
                  "(install qtwayland5 and qt5-gtk-platformtheme, see scripts/deps.sh)")
endif()

foreach(_entry IN LISTS _bundle_plugin_sources)
  string(REPLACE "=" ";" _pair "${_entry}")
  list(GET _pair 0 _relative)
  list(GET _pair 1 _location)
  get_filename_component(_kind_dir "${_bundle_plugins}/${_relative}" DIRECTORY)
  set(_copy "${_bundle_plugins}/${_relative}")
  add_custom_command(OUTPUT "${_copy}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_kind_dir}"
    COMMAND ${CMAKE_COMMAND} -E copy "${_location}" "${_copy}"
    DEPENDS "${_location}"
    VERBATIM)
  list(APPEND _bundle_outputs "${_copy}")
endforeach()

add_custom_target(launcher_bundle ALL DEPENDS ${_bundle_outputs})
add_dependencies(launcher_bundle lumora-launcher)
