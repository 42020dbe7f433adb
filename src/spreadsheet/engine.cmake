# The automation members over the readers, and the dispatcher that picks a reader by content.
cellverter_add_library(cellverter_spreadsheet SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/workbook_source.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/automation.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/rows_ahead.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/crypto/encrypted_package.cpp
  DEPS cellverter_xlsx cellverter_xls cellverter_xlsb cellverter_ods cellverter_office_crypto cellverter_numfmt cellverter_platform
       ICU::uc Threads::Threads
)
