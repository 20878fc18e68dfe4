# Mirrors the bundle's plug-in folder as symbolic links into the system's
# plug-in folder, for the Debian package:
#   cmake -DBUNDLE_PLUGINS=<bundle>/Contents/Frameworks/plugins
#         -DSYSTEM_PLUGINS=<the toolkit's plug-in folder> -DOUT=<folder> -P plugin-links.cmake
# <OUT>/<kind>/<file> becomes a link to <SYSTEM_PLUGINS>/<kind>/<file> for
# every <kind>/<file> of the bundle. A plug-in the system does not have fails:
# the package would carry a link to nothing.
foreach(_var BUNDLE_PLUGINS SYSTEM_PLUGINS OUT)
  if(NOT DEFINED ${_var} OR "${${_var}}" STREQUAL "")
    message(FATAL_ERROR "plugin-links.cmake: ${_var} is not set")
  endif()
endforeach()
if(NOT IS_DIRECTORY "${BUNDLE_PLUGINS}")
  message(FATAL_ERROR "plugin-links.cmake: the bundle has no plug-in folder '${BUNDLE_PLUGINS}'")
endif()

file(REMOVE_RECURSE "${OUT}")
file(GLOB_RECURSE _plugins LIST_DIRECTORIES false RELATIVE "${BUNDLE_PLUGINS}" "${BUNDLE_PLUGINS}/*")
if(NOT _plugins)
  message(FATAL_ERROR "plugin-links.cmake: no plug-in in '${BUNDLE_PLUGINS}'")
endif()
list(SORT _plugins)
foreach(_plugin IN LISTS _plugins)
  set(_target "${SYSTEM_PLUGINS}/${_plugin}")
  if(NOT EXISTS "${_target}" OR IS_DIRECTORY "${_target}")
    message(FATAL_ERROR "plugin-links.cmake: the bundle's plug-in '${_plugin}' is not in '${SYSTEM_PLUGINS}'")
  endif()
  get_filename_component(_folder "${OUT}/${_plugin}" DIRECTORY)
  file(MAKE_DIRECTORY "${_folder}")
  file(CREATE_LINK "${_target}" "${OUT}/${_plugin}" RESULT _result SYMBOLIC)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "plugin-links.cmake: file(CREATE_LINK) '${OUT}/${_plugin}' -> '${_target}' failed: ${_result}")
  endif()
endforeach()
