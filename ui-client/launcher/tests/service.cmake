# Tests of the upgrade service, the platform layer and the client bundle.

add_executable(service_slow_child ${CMAKE_CURRENT_LIST_DIR}/service_slow_child.cpp)

# Decisions, version records, migration and the stop sequence with a fake
# process table; one thread.
add_executable(service_tests
  ${CMAKE_CURRENT_LIST_DIR}/service_fixture.h
  ${CMAKE_CURRENT_LIST_DIR}/service_decision_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_migration_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_stop_test.cpp)
target_link_libraries(service_tests PRIVATE launcher_core GTest::gtest_main)
gtest_discover_tests(service_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# Real processes: a child reaped by a second thread, the client bundle.
add_executable(service_process_tests
  ${CMAKE_CURRENT_LIST_DIR}/service_fixture.h
  ${CMAKE_CURRENT_LIST_DIR}/service_process_test.cpp)
target_link_libraries(service_process_tests PRIVATE launcher_core GTest::gtest_main)
target_compile_definitions(service_process_tests PRIVATE
  SERVICE_SLOW_CHILD="$<TARGET_FILE:service_slow_child>"
  CLIENT_BUNDLE="${LUMORA_CLIENT_BUNDLE_DIR}")
add_dependencies(service_process_tests service_slow_child client_bundle)
gtest_discover_tests(service_process_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS threads)

# The launcher bundle run as a user would, with the client installed.
add_executable(service_bundle_tests ${CMAKE_CURRENT_LIST_DIR}/service_bundle_test.cpp)
target_link_libraries(service_bundle_tests PRIVATE bundle_runner Qt5::Core GTest::gtest_main)
target_compile_definitions(service_bundle_tests PRIVATE
  LAUNCHER_BUNDLE="${LUMORA_LAUNCHER_BUNDLE_DIR}"
  CLIENT_BUNDLE="${LUMORA_CLIENT_BUNDLE_DIR}")
add_dependencies(service_bundle_tests launcher_bundle client_bundle)
gtest_discover_tests(service_bundle_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
