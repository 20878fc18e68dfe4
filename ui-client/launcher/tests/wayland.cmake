# The launcher bundle run on a headless Wayland compositor (weston; skipped
# without it).
add_executable(wayland_tests ${CMAKE_CURRENT_LIST_DIR}/wayland_test.cpp)
target_link_libraries(wayland_tests PRIVATE bundle_runner GTest::gtest_main)
target_compile_definitions(wayland_tests PRIVATE LUMORA_LAUNCHER_BUNDLE="${LUMORA_LAUNCHER_BUNDLE_DIR}"
  LUMORA_CLIENT_BUNDLE="${LUMORA_CLIENT_BUNDLE_DIR}")
add_dependencies(wayland_tests launcher_package)
gtest_discover_tests(wayland_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
