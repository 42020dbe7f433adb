find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)

cellverter_add_library(cellverter_update SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/server_exchange.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/installation.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/update_store.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/update_check.cpp
  DEPS cellverter_platform CURL::libcurl OpenSSL::SSL OpenSSL::Crypto ICU::uc ICU::i18n
)
# Every address the program opens or posts to is built from this host.
target_compile_definitions(cellverter_update PRIVATE
  CELLVERTER_MAKER_HOST="${CELLVERTER_MAKER_HOST}")
