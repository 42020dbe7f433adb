# Expectations that hold for every reader, run through the dispatcher.
find_package(ZLIB REQUIRED)
cellverter_add_test(workbook_reader_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/used_range_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/repairs_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/reader_contract_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/sheet_layout_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/rows_ahead_test.cpp
  LIBS cellverter_spreadsheet ZLIB::ZLIB
)
