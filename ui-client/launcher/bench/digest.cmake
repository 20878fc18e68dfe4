# The package check's cost: SHA-256 of a package-sized file.
add_executable(digest_bench ${CMAKE_CURRENT_LIST_DIR}/digest_bench.cpp)
target_link_libraries(digest_bench PRIVATE launcher_core)
