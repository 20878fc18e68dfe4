# Tests of the string table and the compiled-in translation resource.
add_executable(strtable_tests
  ${CMAKE_CURRENT_LIST_DIR}/strtable_table_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/strtable_translation_test.cpp)
target_link_libraries(strtable_tests PRIVATE launcher_core GTest::gtest)
gtest_discover_tests(strtable_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# Every translation keeps its source's placeholders, markup and escapes; a
# fault names the language and the text's ids.
add_test(NAME strtable_translation_check
  COMMAND ${Python3_EXECUTABLE} ${STRTABLE_GENERATOR} check ${STRTABLE_STRINGS} ${STRTABLE_TRANSLATIONS})
