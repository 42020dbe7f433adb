find_package(ICU REQUIRED COMPONENTS uc)

# The compound file container and the BIFF reader of legacy .xls workbooks.
cellverter_add_library(cellverter_xls SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/container/compound_file.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls/xls_records.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls/xls_globals.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls/xls_sheet_scan.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls/xls_cells.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/xls/xls_reader.cpp
  DEPS cellverter_platform cellverter_office_crypto ICU::uc
)
