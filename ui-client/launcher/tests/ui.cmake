# Tests of the launcher object, its worker thread and the progress dialog.
# They draw offscreen with the DejaVu fonts alone (fonts.conf), so that text
# measures the same on every machine.
set(UI_FONT_CACHE ${CMAKE_CURRENT_BINARY_DIR}/fontconfig-cache)
configure_file(${CMAKE_CURRENT_LIST_DIR}/fonts.conf.in ${CMAKE_CURRENT_BINARY_DIR}/ui-fonts.conf @ONLY)
# One variable only: gtest_discover_tests reads a second one as a property
# name. The tests' entry points fontconfig at ui-fonts.conf itself.
set(UI_TEST_ENV "QT_QPA_PLATFORM=offscreen")
set(UI_FONTS_CONF "${CMAKE_CURRENT_BINARY_DIR}/ui-fonts.conf")

# Draws the dialog in one language to a PNG, for scripts/screenshots.
add_executable(dialog_screenshot ${CMAKE_CURRENT_LIST_DIR}/dialog_screenshot.cpp)
target_link_libraries(dialog_screenshot PRIVATE launcher_core launcher_startup)

# Set-up of the dialog and the warning, the progress arithmetic, and the
# screenshot program; no second thread.
add_executable(ui_dialog_tests
  ${CMAKE_CURRENT_LIST_DIR}/ui_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_dialog_test.cpp)
target_link_libraries(ui_dialog_tests PRIVATE launcher_core GTest::gtest)
target_compile_definitions(ui_dialog_tests PRIVATE DIALOG_SCREENSHOT="$<TARGET_FILE:dialog_screenshot>")
add_dependencies(ui_dialog_tests dialog_screenshot)
gtest_discover_tests(ui_dialog_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "${UI_TEST_ENV}")

# The whole sequence with the worker thread.
add_executable(ui_worker_tests
  ${CMAKE_CURRENT_LIST_DIR}/ui_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_worker_test.cpp)
target_link_libraries(ui_worker_tests PRIVATE launcher_core GTest::gtest)
gtest_discover_tests(ui_worker_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "${UI_TEST_ENV}" LABELS threads)

# The dialog's texts in every language fit its window, at the font DPI of a
# standard screen (scale 1.0) and of a double-density one (scale 2.0).
string(REPLACE ";" "," _ui_languages "${STRTABLE_LANGUAGES}")
add_executable(ui_fit_tests
  ${CMAKE_CURRENT_LIST_DIR}/ui_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_fit_test.cpp)
target_compile_definitions(ui_fit_tests PRIVATE LUMORA_LANGUAGES="${_ui_languages}")
target_link_libraries(ui_fit_tests PRIVATE launcher_core launcher_startup GTest::gtest)
foreach(_dpi 96 192)
  gtest_discover_tests(ui_fit_tests DISCOVERY_MODE PRE_TEST TEST_SUFFIX ".dpi${_dpi}" EXTRA_ARGS --font-dpi=${_dpi}
    PROPERTIES ENVIRONMENT "${UI_TEST_ENV}")
endforeach()

foreach(_ui_tests ui_dialog_tests ui_worker_tests ui_fit_tests)
  target_compile_definitions(${_ui_tests} PRIVATE UI_FONTS_CONF="${UI_FONTS_CONF}")
endforeach()
