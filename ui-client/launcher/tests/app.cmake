# Tests of start-up: its pure helpers, and the assembled launcher bundle run
# as a black box.
add_executable(app_startup_tests ${CMAKE_CURRENT_LIST_DIR}/app_startup.cpp)
target_link_libraries(app_startup_tests PRIVATE launcher_startup GTest::gtest GTest::gtest_main)
gtest_discover_tests(app_startup_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

add_executable(app_blackbox_tests ${CMAKE_CURRENT_LIST_DIR}/app_blackbox.cpp)
target_link_libraries(app_blackbox_tests PRIVATE bundle_runner wyxqt Qt5::Gui GTest::gtest_main)
target_compile_definitions(app_blackbox_tests PRIVATE
  LUMORA_TEST_BUNDLE="${LUMORA_LAUNCHER_BUNDLE_DIR}"
  LUMORA_TEST_BUILD_VERSION="${LUMORA_BUILD_VERSION}")
add_dependencies(app_blackbox_tests launcher_bundle)
gtest_discover_tests(app_blackbox_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
