# Tests of start-up: its pure helpers, and the assembled launcher bundle run
# as a black box.
include(GoogleTest)

# Runs a bundle against a temporary home and writes archives; shared by the
# black-box programs and the extractor tests.
add_library(bundle_runner STATIC ${CMAKE_CURRENT_LIST_DIR}/bundle_runner.cpp ${CMAKE_CURRENT_LIST_DIR}/bundle_runner.h)
target_include_directories(bundle_runner PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/lib/wyx-qt/tests)
target_link_libraries(bundle_runner PUBLIC Qt5::Core LibArchive::LibArchive GTest::gtest)
# service_bundle_tests is defined by a later fragment of this folder.
function(_link_bundle_runner_late)
  if(TARGET service_bundle_tests)
    target_link_libraries(service_bundle_tests PRIVATE bundle_runner)
  endif()
endfunction()
cmake_language(DEFER CALL _link_bundle_runner_late)

if(TARGET launcher_startup)
  add_executable(app_startup_tests ${CMAKE_CURRENT_LIST_DIR}/app_startup.cpp)
  target_link_libraries(app_startup_tests PRIVATE launcher_startup GTest::gtest GTest::gtest_main)
  gtest_discover_tests(app_startup_tests DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()

if(TARGET lumora-launcher AND TARGET launcher_bundle AND TARGET wyxqt)
  add_executable(app_blackbox_tests ${CMAKE_CURRENT_LIST_DIR}/app_blackbox.cpp)
  target_link_libraries(app_blackbox_tests PRIVATE bundle_runner wyxqt Qt5::Gui GTest::gtest_main)
  target_compile_definitions(app_blackbox_tests PRIVATE
    LUMORA_TEST_BUNDLE="${LUMORA_LAUNCHER_BUNDLE_DIR}"
    LUMORA_TEST_BUILD_VERSION="${LUMORA_BUILD_VERSION}")
  add_dependencies(app_blackbox_tests launcher_bundle)
  gtest_discover_tests(app_blackbox_tests DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
