find_package(OpenSSL REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)

cellverter_add_library(cellverter_update SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/installation.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/update_store.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/update_check.cpp
  DEPS cellverter_http cellverter_platform OpenSSL::Crypto ICU::uc ICU::i18n
)
