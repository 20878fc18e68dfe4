# Tests of the string table and the compiled-in translation resource.
add_executable(strtable_tests
  ${CMAKE_CURRENT_LIST_DIR}/strtable_table_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/strtable_translation_test.cpp)
target_link_libraries(strtable_tests PRIVATE launcher_core GTest::gtest)
gtest_discover_tests(strtable_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
