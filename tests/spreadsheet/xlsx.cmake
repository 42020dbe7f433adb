find_package(ZLIB REQUIRED)

cellverter_add_test(xlsx_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx_reader_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx_failure_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xml_scanner_test.cpp
  LIBS cellverter_spreadsheet ZLIB::ZLIB
)

# The fuzz target replays its seed corpus as an ordinary test.
add_executable(fuzz_xlsx_replay ${PROJECT_SOURCE_DIR}/bench/fuzz_xlsx.cpp)
target_link_libraries(fuzz_xlsx_replay PRIVATE cellverter_options cellverter_xlsx cellverter_spreadsheet)
add_test(NAME xlsx_fuzz_corpus
         COMMAND fuzz_xlsx_replay ${PROJECT_SOURCE_DIR}/bench/fuzz/xlsx-corpus)
