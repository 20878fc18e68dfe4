# Log lines name their source file the way the build sees it: the path below
# the module's source root without extension ("launcher", "mac/mac-service",
# "file-op"). This sets LOG_SOURCE_NAME on every source of a target so that no
# call site spells its own name.
#
#   lumora_log_source_names(<target> <root folder>)
function(lumora_log_source_names target root)
  get_target_property(srcs ${target} SOURCES)
  get_filename_component(root_abs "${root}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  foreach(src IN LISTS srcs)
    if(NOT src MATCHES "\\.(c|cc|cpp|cxx)$")
      continue()
    endif()
    get_filename_component(abs "${src}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    file(RELATIVE_PATH rel "${root_abs}" "${abs}")
    if(rel MATCHES "^\\.\\./")
      continue()
    endif()
    string(REGEX REPLACE "\\.[^./]*$" "" name "${rel}")
    set_property(SOURCE "${abs}" APPEND PROPERTY COMPILE_DEFINITIONS "LOG_SOURCE_NAME=\"${name}\"")
  endforeach()
endfunction()
