# Tests of the launcher object, its worker thread and the progress dialog.

# Set-up of the dialog and the progress arithmetic; no second thread.
add_executable(ui_dialog_tests
  ${CMAKE_CURRENT_LIST_DIR}/ui_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_dialog_test.cpp)
target_link_libraries(ui_dialog_tests PRIVATE launcher_core GTest::gtest)
gtest_discover_tests(ui_dialog_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The whole sequence with the worker thread.
add_executable(ui_worker_tests
  ${CMAKE_CURRENT_LIST_DIR}/ui_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_worker_test.cpp)
target_link_libraries(ui_worker_tests PRIVATE launcher_core GTest::gtest)
gtest_discover_tests(ui_worker_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS threads)
