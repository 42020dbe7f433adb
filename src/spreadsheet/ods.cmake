find_package(ICU REQUIRED COMPONENTS uc)

# The OpenDocument spreadsheet reader (.ods packages and flat .fods documents).
cellverter_add_library(cellverter_ods SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/ods/ods_number_style.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ods/ods_reader.cpp
  DEPS cellverter_xlsx cellverter_office_crypto cellverter_platform ICU::uc
)
