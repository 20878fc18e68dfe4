# The install manifest's check, made on every launcher run, against lstat of
# every path; never run by ctest:
#   manifest_bench [work folder [checks [entries [MB]]]]
add_executable(manifest_bench ${CMAKE_CURRENT_LIST_DIR}/manifest_bench.cpp)
target_link_libraries(manifest_bench PRIVATE launcher_bench_support launcher_core)
