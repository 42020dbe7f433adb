find_package(ZLIB REQUIRED)

cellverter_add_test(xlsx_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx_reader_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx_failure_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/shared_strings_beside_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsx_workbook_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xml_scanner_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/plain_rows_test.cpp
  LIBS cellverter_spreadsheet ZLIB::ZLIB
)
