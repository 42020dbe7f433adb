find_package(ZLIB REQUIRED)

cellverter_add_test(workbook_csv_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/workbook_to_csv_test.cpp
  LIBS cellverter_workbook_csv ZLIB::ZLIB
)

# The whole-conversion fuzz target replays its seed corpus as an ordinary test.
add_executable(fuzz_convert_replay ${PROJECT_SOURCE_DIR}/bench/fuzz_convert.cpp)
target_link_libraries(fuzz_convert_replay PRIVATE cellverter_options cellverter_workbook_csv)
add_test(NAME convert_fuzz_corpus
         COMMAND fuzz_convert_replay ${PROJECT_SOURCE_DIR}/bench/fuzz/convert-corpus)
