find_package(ICU REQUIRED COMPONENTS uc i18n)

cellverter_add_library(cellverter_numfmt SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/number_format.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/numfmt_builtin.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/numfmt_datetime.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/numfmt_decimal.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/numfmt_fraction.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/numfmt_general.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/numfmt_locale.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/numfmt_number.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/numfmt_parse.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/numfmt/numfmt_text.cpp
  DEPS ICU::i18n ICU::uc
)
