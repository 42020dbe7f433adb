# .xlsx reader: libFuzzer target (CELLVERTER_FUZZ, clang), the workbook generator and the
# conversion benchmarks (CELLVERTER_BENCH). The fuzz target's seed corpus also runs as an
# ordinary test (tests/spreadsheet/xlsx.cmake).
if(CELLVERTER_FUZZ)
  # Coverage feedback from the reader itself. The reader is the production one, checksums
  # included: the target's mutator (fuzz_zip_mutator.h) rebuilds the package after each change.
  cellverter_add_fuzzer(fuzz_xlsx LIBS cellverter_xlsx cellverter_spreadsheet
                        INSTRUMENT cellverter_xlsx cellverter_office_crypto)
  target_include_directories(fuzz_xlsx PRIVATE ${PROJECT_SOURCE_DIR}/tests/spreadsheet)
endif()

if(CELLVERTER_BENCH)
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
endif()
