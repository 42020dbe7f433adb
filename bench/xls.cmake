# .xls reader benchmarks.
add_executable(make_xls_bench_file ${CMAKE_CURRENT_SOURCE_DIR}/make_xls_bench_file.cpp)
target_include_directories(make_xls_bench_file PRIVATE ${PROJECT_SOURCE_DIR}/tests/spreadsheet)
target_link_libraries(make_xls_bench_file PRIVATE cellverter_options)

add_executable(bench_xls ${CMAKE_CURRENT_SOURCE_DIR}/bench_xls.cpp)
target_include_directories(bench_xls PRIVATE ${PROJECT_SOURCE_DIR}/tests/spreadsheet)
target_link_libraries(bench_xls PRIVATE cellverter_options cellverter_xls cellverter_workbook_csv benchmark::benchmark)
