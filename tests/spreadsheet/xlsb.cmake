find_package(ZLIB REQUIRED)

# The .xlsb reader on what only its records express; the contract suite covers the rest.
cellverter_add_test(xlsb_reader_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xlsb_reader_test.cpp
  LIBS cellverter_workbook_csv cellverter_spreadsheet ZLIB::ZLIB
)
