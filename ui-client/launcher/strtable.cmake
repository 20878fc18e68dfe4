# Localised string table: keys and English texts live in strings/strings.tsv;
# the build generates the C++ arrays from it.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(STRTABLE_DATA_DIR ${CMAKE_CURRENT_SOURCE_DIR}/strings)
set(STRTABLE_GENERATOR ${STRTABLE_DATA_DIR}/gen_strtable.py)
set(STRTABLE_OUT_DIR ${CMAKE_CURRENT_BINARY_DIR})

add_custom_command(
  OUTPUT ${STRTABLE_OUT_DIR}/strtable_data.h ${STRTABLE_OUT_DIR}/strtable_data.cpp
  COMMAND ${Python3_EXECUTABLE} ${STRTABLE_GENERATOR} table
          ${STRTABLE_DATA_DIR}/strings.tsv ${STRTABLE_OUT_DIR}
  DEPENDS ${STRTABLE_GENERATOR} ${STRTABLE_DATA_DIR}/strings.tsv
  COMMENT "Generating the string table from strings.tsv"
  VERBATIM)

set_source_files_properties(
  ${STRTABLE_OUT_DIR}/strtable_data.h ${STRTABLE_OUT_DIR}/strtable_data.cpp
  PROPERTIES GENERATED TRUE SKIP_AUTOMOC ON SKIP_AUTOUIC ON)

list(APPEND LAUNCHER_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/strtable.h
  ${CMAKE_CURRENT_SOURCE_DIR}/strtable.cpp
  ${STRTABLE_OUT_DIR}/strtable_data.h
  ${STRTABLE_OUT_DIR}/strtable_data.cpp)
