# Encrypted workbooks through the whole conversion, and hostile encryption headers.
cellverter_add_test(encrypted_workbook_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/encrypted_workbook_test.cpp
  LIBS cellverter_workbook_csv cellverter_office_crypto cellverter_xls
)
