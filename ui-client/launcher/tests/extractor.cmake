# Tests of the package extractor, the per-user installation and, end to end,
# the launcher bundle.
add_executable(extractor_tests
  ${CMAKE_CURRENT_LIST_DIR}/extractor_support.h
  ${CMAKE_CURRENT_LIST_DIR}/extractor_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/extractor_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/install_test.cpp)
target_link_libraries(extractor_tests PRIVATE launcher_core bundle_runner GTest::gtest)
gtest_discover_tests(extractor_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# End to end: the bundle's launcher against temporary homes.
add_executable(e2e_tests ${CMAKE_CURRENT_LIST_DIR}/e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/startup_e2e_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/safety_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/delta_e2e_test.cpp)
target_link_libraries(e2e_tests PRIVATE bundle_runner GTest::gtest_main)
target_compile_definitions(e2e_tests PRIVATE
  LUMORA_LAUNCHER_BUNDLE="${LUMORA_LAUNCHER_BUNDLE_DIR}"
  LUMORA_CLIENT_BUNDLE="${LUMORA_CLIENT_BUNDLE_DIR}")
add_dependencies(e2e_tests launcher_package)
gtest_discover_tests(e2e_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)

# The upgrade's linking and the zip's writing threads: labelled for the
# ThreadSanitizer run (./scripts/test --tsan).
add_executable(extractor_thread_tests
  ${CMAKE_CURRENT_LIST_DIR}/extractor_support.h
  ${CMAKE_CURRENT_LIST_DIR}/extractor_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/extractor_delta_test.cpp)
target_link_libraries(extractor_thread_tests PRIVATE launcher_core bundle_runner GTest::gtest)
gtest_discover_tests(extractor_thread_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS threads)
