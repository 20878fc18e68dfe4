# Localised string table and its translations.
#
# strings/strings.tsv holds every key with its id and English text; the build
# generates the C++ arrays from it. strings/translations/<code>.tsv holds one
# language's translations; the build checks them, generates one .ts per
# language (one message per distinct English text), compiles
# each with lrelease and embeds the .qm files as the resource "texts":
# ":/<code>.qm", registered with Q_INIT_RESOURCE(texts).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_package(Qt5 5.15 REQUIRED COMPONENTS Core)
find_package(Qt5LinguistTools QUIET)

set(STRTABLE_DATA_DIR ${CMAKE_CURRENT_SOURCE_DIR}/strings)
set(STRTABLE_GENERATOR ${STRTABLE_DATA_DIR}/gen_strtable.py)
set(STRTABLE_STRINGS ${STRTABLE_DATA_DIR}/strings.tsv)
set(STRTABLE_TRANSLATIONS ${STRTABLE_DATA_DIR}/translations)
file(GLOB STRTABLE_TRANSLATION_FILES CONFIGURE_DEPENDS ${STRTABLE_TRANSLATIONS}/*.tsv)
set(STRTABLE_OUT_DIR ${CMAKE_CURRENT_BINARY_DIR})
set(STRTABLE_TS_DIR ${CMAKE_CURRENT_BINARY_DIR}/translations)

# --- The table ---------------------------------------------------------------
add_custom_command(
  OUTPUT ${STRTABLE_OUT_DIR}/strtable_data.h ${STRTABLE_OUT_DIR}/strtable_data.cpp
  COMMAND ${Python3_EXECUTABLE} ${STRTABLE_GENERATOR} table ${STRTABLE_STRINGS} ${STRTABLE_OUT_DIR}
  DEPENDS ${STRTABLE_GENERATOR} ${STRTABLE_STRINGS}
  COMMENT "Generating the string table from strings.tsv"
  VERBATIM)

# --- The translations --------------------------------------------------------
if(TARGET Qt5::lrelease)
  set(STRTABLE_LRELEASE Qt5::lrelease)
else()
  get_target_property(_strtable_qmake Qt5::qmake IMPORTED_LOCATION)
  get_filename_component(_strtable_qt_bin ${_strtable_qmake} DIRECTORY)
  find_program(STRTABLE_LRELEASE NAMES lrelease-qt5 lrelease
               HINTS ${_strtable_qt_bin} /usr/lib/qt5/bin)
  if(NOT STRTABLE_LRELEASE)
    message(FATAL_ERROR "lrelease not found: install the Qt 5 linguist tools")
  endif()
endif()

# The languages are the files in translations/; a new file reconfigures.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${STRTABLE_GENERATOR})
execute_process(
  COMMAND ${Python3_EXECUTABLE} ${STRTABLE_GENERATOR} languages ${STRTABLE_TRANSLATIONS}
  OUTPUT_VARIABLE _strtable_languages
  RESULT_VARIABLE _strtable_result
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _strtable_result EQUAL 0)
  message(FATAL_ERROR "gen_strtable.py languages failed: ${_strtable_result}")
endif()
string(REPLACE "\n" ";" STRTABLE_LANGUAGES "${_strtable_languages}")

set(_strtable_ts_files "")
set(_strtable_qm_files "")
foreach(code IN LISTS STRTABLE_LANGUAGES)
  list(APPEND _strtable_ts_files ${STRTABLE_TS_DIR}/${code}.ts)
  list(APPEND _strtable_qm_files ${STRTABLE_TS_DIR}/${code}.qm)
endforeach()

add_custom_command(
  OUTPUT ${_strtable_ts_files} ${STRTABLE_TS_DIR}/texts.qrc
  COMMAND ${Python3_EXECUTABLE} ${STRTABLE_GENERATOR} ts
          ${STRTABLE_STRINGS} ${STRTABLE_TRANSLATIONS} ${STRTABLE_TS_DIR}
  DEPENDS ${STRTABLE_GENERATOR} ${STRTABLE_STRINGS} ${STRTABLE_TRANSLATION_FILES}
  COMMENT "Generating the translation sources"
  VERBATIM)

# Identical translations are kept: the English file maps every text to itself.
foreach(code IN LISTS STRTABLE_LANGUAGES)
  add_custom_command(
    OUTPUT ${STRTABLE_TS_DIR}/${code}.qm
    COMMAND ${STRTABLE_LRELEASE} -silent ${STRTABLE_TS_DIR}/${code}.ts -qm ${STRTABLE_TS_DIR}/${code}.qm
    DEPENDS ${STRTABLE_TS_DIR}/${code}.ts
    COMMENT "Compiling translation ${code}.qm"
    VERBATIM)
endforeach()

# Resource data format 2; per-file compression comes from texts.qrc.
add_custom_command(
  OUTPUT ${STRTABLE_OUT_DIR}/qrc_texts.cpp
  COMMAND Qt5::rcc --name texts --format-version 2
          -o ${STRTABLE_OUT_DIR}/qrc_texts.cpp ${STRTABLE_TS_DIR}/texts.qrc
  DEPENDS ${STRTABLE_TS_DIR}/texts.qrc ${_strtable_qm_files}
  COMMENT "Compiling the translation resource texts"
  VERBATIM)

set(_strtable_generated
  ${STRTABLE_OUT_DIR}/strtable_data.h
  ${STRTABLE_OUT_DIR}/strtable_data.cpp
  ${STRTABLE_OUT_DIR}/qrc_texts.cpp)
set_source_files_properties(${_strtable_generated}
  PROPERTIES GENERATED TRUE SKIP_AUTOMOC ON SKIP_AUTOUIC ON SKIP_AUTORCC ON)

list(APPEND LAUNCHER_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/strtable.h
  ${CMAKE_CURRENT_SOURCE_DIR}/strtable.cpp
  ${_strtable_generated})
