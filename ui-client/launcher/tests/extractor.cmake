# Tests of the package extractor, the per-user installation and, end to end,
# the launcher bundle.
if(TARGET launcher_core)
  include(GoogleTest)

  add_executable(extractor_tests
    ${CMAKE_CURRENT_LIST_DIR}/extractor_support.h
    ${CMAKE_CURRENT_LIST_DIR}/extractor_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/extractor_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/install_test.cpp)
  target_link_libraries(extractor_tests PRIVATE launcher_core GTest::gtest)
  gtest_discover_tests(extractor_tests DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
