find_package(ZLIB REQUIRED)

cellverter_add_test(ods_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/ods_number_style_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ods_reader_test.cpp
  LIBS cellverter_ods cellverter_workbook_csv cellverter_spreadsheet ZLIB::ZLIB
)
