cellverter_add_test(number_format_tests SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/number_format_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/serial_date_test.cpp
  LIBS cellverter_numfmt
)
