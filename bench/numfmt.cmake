add_executable(number_format_bench ${CMAKE_CURRENT_SOURCE_DIR}/number_format_bench.cpp)
target_link_libraries(number_format_bench PRIVATE cellverter_numfmt benchmark::benchmark
                      benchmark::benchmark_main)
# Fixed work for timing whole runs with hyperfine.
add_executable(number_format_render ${CMAKE_CURRENT_SOURCE_DIR}/number_format_render.cpp)
target_link_libraries(number_format_render PRIVATE cellverter_numfmt)
