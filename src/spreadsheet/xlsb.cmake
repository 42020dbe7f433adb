# The Excel binary workbook (.xlsb) reader: the zip package and row spool of the .xlsx reader,
# the RK numbers and error codes of the BIFF reader.
cellverter_add_library(cellverter_xlsb SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsb/xlsb_records.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xlsb/xlsb_reader.cpp
  DEPS cellverter_xlsx cellverter_xls cellverter_platform
)
