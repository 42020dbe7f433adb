find_package(ICU REQUIRED COMPONENTS uc)

# The compound file container and the BIFF reader of legacy .xls workbooks.
cellverter_add_library(cellverter_xls SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/compound_file.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls_records.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls_globals.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls_sheet_scan.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls_cells.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls_reader.cpp
  DEPS cellverter_platform cellverter_office_crypto ICU::uc
)
