cellverter_add_test(compound_file_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/compound_file_test.cpp
  LIBS cellverter_xls
)
cellverter_add_test(xls_reader_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xls_reader_test.cpp
  LIBS cellverter_xls
)

# The fuzz target replays its seed corpus and the fixtures as an ordinary test.
add_executable(xls_fuzz_replay ${PROJECT_SOURCE_DIR}/bench/fuzz_xls.cpp)
target_link_libraries(xls_fuzz_replay PRIVATE cellverter_options cellverter_xls)
add_test(NAME xls_fuzz_replay
         COMMAND xls_fuzz_replay ${PROJECT_SOURCE_DIR}/bench/fuzz/xls-corpus ${PROJECT_SOURCE_DIR}/tests/data/xls)

# .xls workbooks through the dispatcher and the whole conversion.
cellverter_add_test(xls_conversion_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xls_conversion_test.cpp
  LIBS cellverter_workbook_csv
)
