find_package(OpenSSL REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc)

# Decryption of password-protected workbooks (MS-OFFCRYPTO), shared by the .xls reader and
# the opening of encrypted .xlsx packages.
cellverter_add_library(cellverter_office_crypto SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/crypto/office_crypto.cpp
  DEPS cellverter_xlsx cellverter_platform OpenSSL::Crypto ICU::uc
)
