find_package(ICU REQUIRED COMPONENTS uc i18n)

cellverter_add_library(cellverter_appcore SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/settings_store.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/version_info.cpp
  DEPS cellverter_platform ICU::uc ICU::i18n
)
