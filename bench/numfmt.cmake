if(CELLVERTER_BENCH)
  add_executable(number_format_bench ${CMAKE_CURRENT_SOURCE_DIR}/number_format_bench.cpp)
  target_link_libraries(number_format_bench PRIVATE cellverter_numfmt benchmark::benchmark
                        benchmark::benchmark_main)
  # Fixed work for timing whole runs with hyperfine.
  add_executable(number_format_render ${CMAKE_CURRENT_SOURCE_DIR}/number_format_render.cpp)
  target_link_libraries(number_format_render PRIVATE cellverter_numfmt)
endif()
# Number formats: libFuzzer target (CELLVERTER_FUZZ, clang). Its seed corpus also runs as an
# ordinary test (tests/spreadsheet/numfmt.cmake).
if(CELLVERTER_FUZZ)
  cellverter_add_fuzzer(fuzz_numfmt LIBS cellverter_numfmt INSTRUMENT cellverter_numfmt)
endif()
