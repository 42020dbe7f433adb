# One workbook to one CSV file, over the automation members.
cellverter_add_library(cellverter_workbook_csv SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/raw_value.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/workbook_to_csv.cpp
  DEPS cellverter_convert cellverter_spreadsheet
)
