cellverter_add_test(compound_file_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/compound_file_test.cpp
  LIBS cellverter_xls
)
cellverter_add_test(xls_reader_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xls_reader_test.cpp
  LIBS cellverter_xls
)

# .xls workbooks through the dispatcher and the whole conversion.
cellverter_add_test(xls_conversion_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xls_conversion_test.cpp
  LIBS cellverter_workbook_csv
)

# Excel 2.x-4.x files (BIFF2-BIFF4, BIFF4W) through the .xls reader.
cellverter_add_test(xls_old_biff_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/xls_old_biff_test.cpp
  LIBS cellverter_workbook_csv
)
