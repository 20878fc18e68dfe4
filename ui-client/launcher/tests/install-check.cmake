# Tests of the install manifest (the record of an installed bundle and its
# cheap check) and of the full comparison of an installed bundle with its
# package.
add_executable(install_check_tests ${CMAKE_CURRENT_LIST_DIR}/install_manifest_test.cpp)
target_link_libraries(install_check_tests PRIVATE launcher_core GTest::gtest_main)
gtest_discover_tests(install_check_tests DISCOVERY_MODE PRE_TEST)

add_executable(package_compare_tests
  ${CMAKE_CURRENT_LIST_DIR}/extractor_support.h
  ${CMAKE_CURRENT_LIST_DIR}/extractor_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/package_compare_test.cpp)
target_link_libraries(package_compare_tests PRIVATE launcher_core bundle_runner GTest::gtest)
gtest_discover_tests(package_compare_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
