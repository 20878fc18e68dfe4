# Timing harnesses of the package extraction and of whole launcher runs.
# Built by default, never run by ctest:
#   extractor_bench [work folder [rounds]]     Extractor::Extract against bsdtar -xf
#   launcher_run_bench [work folder [rounds [mode ...]]]
#                                              the launcher bundle: upgrade, fresh install,
#                                              nothing to upgrade, growth
find_program(LUMORA_BENCH_BSDTAR bsdtar REQUIRED)

add_library(launcher_bench_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/bench_support.h
  ${CMAKE_CURRENT_LIST_DIR}/bench_support.cpp)
# Every timed program runs under bench_measure, a small C program, so that
# its peak memory is its own.
add_executable(bench_measure ${CMAKE_CURRENT_LIST_DIR}/bench_measure.c)
target_compile_definitions(launcher_bench_support PRIVATE LUMORA_BSDTAR="${LUMORA_BENCH_BSDTAR}"
  LUMORA_BENCH_MEASURE="$<TARGET_FILE:bench_measure>")
add_dependencies(launcher_bench_support bench_measure)
# The package digest the launcher checks, from the launcher's own code.
target_link_libraries(launcher_bench_support PRIVATE launcher_core)

add_executable(extractor_bench ${CMAKE_CURRENT_LIST_DIR}/extractor_bench.cpp)
target_link_libraries(extractor_bench PRIVATE launcher_bench_support launcher_core)
target_compile_definitions(extractor_bench PRIVATE LUMORA_CLIENT_BUNDLE="${LUMORA_CLIENT_BUNDLE_DIR}")
add_dependencies(extractor_bench client_bundle)

add_executable(bench_minimal_app ${CMAKE_CURRENT_LIST_DIR}/bench_minimal_app.cpp)
target_link_libraries(bench_minimal_app PRIVATE Qt5::Widgets)

add_executable(launcher_run_bench ${CMAKE_CURRENT_LIST_DIR}/launcher_run_bench.cpp)
target_link_libraries(launcher_run_bench PRIVATE launcher_bench_support)
target_compile_definitions(launcher_run_bench PRIVATE
  LUMORA_LAUNCHER_BUNDLE="${LUMORA_LAUNCHER_BUNDLE_DIR}"
  LUMORA_CLIENT_BUNDLE="${LUMORA_CLIENT_BUNDLE_DIR}"
  LUMORA_MINIMAL_APP="$<TARGET_FILE:bench_minimal_app>")
add_dependencies(launcher_run_bench launcher_package bench_minimal_app)
