# .xlsx reader: the workbook generator and the conversion benchmarks.
find_package(ZLIB REQUIRED)
add_executable(make_large_xlsx ${CMAKE_CURRENT_SOURCE_DIR}/make_large_xlsx.cpp)
target_link_libraries(make_large_xlsx PRIVATE ZLIB::ZLIB)

add_executable(convert_xlsx ${CMAKE_CURRENT_SOURCE_DIR}/convert_xlsx.cpp)
target_link_libraries(convert_xlsx PRIVATE cellverter_options cellverter_workbook_csv)

add_executable(bench_xlsx ${CMAKE_CURRENT_SOURCE_DIR}/bench_xlsx.cpp)
target_compile_definitions(bench_xlsx PRIVATE
  CELLVERTER_MAKE_LARGE_XLSX="$<TARGET_FILE:make_large_xlsx>")
add_dependencies(bench_xlsx make_large_xlsx)
target_link_libraries(bench_xlsx PRIVATE cellverter_options cellverter_workbook_csv
                      benchmark::benchmark)

add_executable(inflate_part ${CMAKE_CURRENT_SOURCE_DIR}/inflate_part.cpp)
target_link_libraries(inflate_part PRIVATE cellverter_options cellverter_xlsx)
