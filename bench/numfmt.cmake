if(CELLVERTER_BENCH)
  add_executable(number_format_bench ${CMAKE_CURRENT_SOURCE_DIR}/number_format_bench.cpp)
  target_link_libraries(number_format_bench PRIVATE cellverter_numfmt benchmark::benchmark
                        benchmark::benchmark_main)
endif()
# Number formats: libFuzzer target (CELLVERTER_FUZZ, clang). Its seed corpus also runs as an
# ordinary test (tests/spreadsheet/numfmt.cmake).
if(CELLVERTER_FUZZ)
  add_executable(fuzz_numfmt ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_numfmt.cpp)
  target_compile_definitions(fuzz_numfmt PRIVATE CELLVERTER_LIBFUZZER)
  target_compile_options(fuzz_numfmt PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_numfmt PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_numfmt PRIVATE cellverter_options cellverter_numfmt)
  target_compile_options(cellverter_numfmt PRIVATE -fsanitize=fuzzer-no-link)
endif()
