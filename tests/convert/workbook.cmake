find_package(ZLIB REQUIRED)

cellverter_add_test(workbook_csv_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/workbook_to_csv_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/conversion_options_test.cpp
  LIBS cellverter_workbook_csv ZLIB::ZLIB
)
