// Encrypted workbooks: the fixtures of tests/data/encrypted (LibreOffice, officecrypto-tool
// and code written from MS-OFFCRYPTO) through the whole conversion, the two password errors,
// and hostile encryption headers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "convert/workbook_to_csv.h"
#include "piece_stream.h"
#include "platform/error.h"
#include "spreadsheet/container/compound_file.h"
#include "spreadsheet/crypto/office_crypto.h"
#include "spreadsheet/workbook_error.h"
#include "temp_dir.h"

namespace cellverter {
namespace {

using testing_support::PieceStream;
using testing_support::ReadBytes;
using testing_support::TempDir;

std::string Fixture(const std::string& name) {
  return std::string(CELLVERTER_TEST_DATA "/encrypted/") + name;
}

// encrypted.fods as every fixture holds it.
std::string ExpectedCsv() {
  std::string longText;
  for (int i = 0; i < 1000; ++i) {
    char number[8];
    std::snprintf(number, sizeof number, "%04d", i);
    longText += (i ? " " : "") + std::string(number);
  }
  return "Kontostand über alles,\"1,234.50\"\r\n"
         "2024-03-01,\"a, \"\"quoted\"\" text\"\r\n" +
         longText + ",\r\n";
}

std::string Convert(const std::string& workbook, const std::string& password, const TempDir& dir) {
  CsvOptions options{",", CsvEncoding::Utf8, 1252};
  options.password = password;
  return ReadBytes(ConvertExcelToCSV(workbook, dir / "out.csv", options));
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

struct EncryptedCase {
  const char* file;
  const char* password;  // given by the user; Excel's default one is always tried first
};

void PrintTo(const EncryptedCase& c, std::ostream* os) { *os << c.file << " " << c.password; }

class EncryptedWorkbook : public ::testing::TestWithParam<EncryptedCase> {};

TEST_P(EncryptedWorkbook, ConvertsAsTheUnencryptedWorkbook) {
  TempDir dir;
  EXPECT_EQ(Convert(Fixture(GetParam().file), GetParam().password, dir), ExpectedCsv());
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, EncryptedWorkbook,
    ::testing::Values(
        // Excel's default password "VelvetSweatshop": opened without asking, whatever
        // password the user gave for other workbooks.
        EncryptedCase{"xor-default.xls", ""}, EncryptedCase{"lo-rc4-default.xls", ""},
        EncryptedCase{"cryptoapi-default.xls", ""},  // 40-bit key
        EncryptedCase{"lo-standard-default.xlsx", ""}, EncryptedCase{"agile-default.xlsx", ""},
        EncryptedCase{"agile-default.xlsb", ""}, EncryptedCase{"lo-rc4-default.xls", "another"},
        EncryptedCase{"agile-default.xlsx", "another"},
        // Another password, given by the user.
        EncryptedCase{"xor-secret.xls", "secret"}, EncryptedCase{"lo-rc4-secret.xls", "secret"},
        EncryptedCase{"cryptoapi-secret.xls", "secret"},  // 128-bit key
        EncryptedCase{"lo-standard-secret.xlsx", "secret"},
        EncryptedCase{"agile-secret.xlsx", "secret"}, EncryptedCase{"agile-secret.xlsb", "secret"}),
    [](const auto& test) {
      std::string name;
      for (const char c : std::string(test.param.file) + "_" + test.param.password) {
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
      }
      return name;
    });

TEST(EncryptedWorkbook, WithoutTheRightPasswordTellsProtectedFromWrong) {
  for (const char* file : {"xor-secret.xls", "lo-rc4-secret.xls", "cryptoapi-secret.xls",
                           "lo-standard-secret.xlsx", "agile-secret.xlsx", "agile-secret.xlsb"}) {
    TempDir dir;
    const std::string path = Fixture(file);
    EXPECT_EQ(ErrorOf([&] { Convert(path, "", dir); }),
              "Cannot open \"" + path + "\": the workbook is protected by a password.");
    const std::string wrong = ErrorOf([&] { Convert(path, "Secret", dir); });
    EXPECT_EQ(wrong, "Cannot open \"" + path + "\": the password is wrong.");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.csv")) << file;
  }
}

// ---------------------------------------------------------------------------------------
// Hostile or unreadable encryption headers: a clear error, quickly, never a long spin.

std::string Le16(uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16(static_cast<uint16_t>(v)) + Le16(v >> 16); }

std::string AgileHeader(
    const std::string& encryptorAttributes,
    const std::string& uri = "http://schemas.microsoft.com/office/2006/keyEncryptor/password") {
  const std::string cipher =
      "saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" cipherAlgorithm=\"AES\" "
      "cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"SHA512\" "
      "saltValue=\"AAAAAAAAAAAAAAAAAAAAAA==\"";
  const std::string block16 = "\"AAAAAAAAAAAAAAAAAAAAAA==\"";
  return Le16(4) + Le16(4) + Le32(0x40) +
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
         "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
         "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
         "<keyData " +
         cipher + "/><dataIntegrity encryptedHmacKey=" + block16 +
         " encryptedHmacValue=" + block16 + "/><keyEncryptors><keyEncryptor uri=\"" + uri +
         "\"><p:encryptedKey " + cipher + " " + encryptorAttributes +
         " encryptedVerifierHashInput=" + block16 + " encryptedVerifierHashValue=" + block16 +
         " encryptedKeyValue=" + block16 + "/></keyEncryptor></keyEncryptors></encryption>";
}

std::string StandardHeader(uint32_t flags, uint32_t algorithm, uint32_t keyBits) {
  std::string header = Le32(flags) + Le32(0) + Le32(algorithm) + Le32(0x8004) + Le32(keyBits) +
                       Le32(0x18) + Le32(0) + Le32(0) + std::string(4, '\0');
  return Le16(3) + Le16(2) + Le32(flags) + Le32(static_cast<uint32_t>(header.size())) + header +
         Le32(16) + std::string(32, '\1') + Le32(20) + std::string(32, '\2');
}

struct HostileCase {
  const char* name;
  std::function<std::string()> info;  // EncryptionInfo stream or FILEPASS data
  bool biff;                          // FILEPASS data rather than an EncryptionInfo stream
  const char* cause;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileEncryption : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileEncryption, IsRefusedWithAClearCause) {
  const std::string info = GetParam().info();
  const std::string message = ErrorOf([&] {
    if (GetParam().biff) {
      OpenBiffDecryptor(info, "");
    } else {
      OpenPackageDecryptor(info, "");
    }
  });
  EXPECT_NE(message.find(GetParam().cause), std::string::npos) << message;
}

constexpr const char* kMalformed = "the file is damaged (the encryption information is malformed)";

INSTANTIATE_TEST_SUITE_P(
    Headers, HostileEncryption,
    ::testing::Values(
        HostileCase{"AgileSpinCountAboveTheMaximum",
                    [] { return AgileHeader("spinCount=\"10000001\""); }, false,
                    "more than 10,000,000 key derivation rounds"},
        HostileCase{"AgileSpinCountBeyond32Bits",
                    [] { return AgileHeader("spinCount=\"99999999999999999999\""); }, false,
                    "more than 10,000,000 key derivation rounds"},
        HostileCase{"AgileNegativeSpinCount", [] { return AgileHeader("spinCount=\"-1\""); }, false,
                    kMalformed},
        HostileCase{"AgileCertificateOnly",
                    [] { return AgileHeader("spinCount=\"1\"", "urn:certificate"); }, false,
                    "the workbook is protected by a password"},
        HostileCase{"AgileTripleDes",
                    [] {
                      std::string header = AgileHeader("spinCount=\"1\"");
                      header.replace(header.find("\"AES\""), 5, "\"3DES\"");
                      return header;
                    },
                    false, "the workbook is protected by a password"},
        HostileCase{"AgileKeyOf1024Bits",
                    [] {
                      std::string header = AgileHeader("spinCount=\"1\"");
                      header.replace(header.rfind("keyBits=\"256\""), 13, "keyBits=\"1024\"");
                      return header;
                    },
                    false, kMalformed},
        HostileCase{"AgileSaltNotBase64",
                    [] {
                      std::string header = AgileHeader("spinCount=\"1\"");
                      header.replace(header.find("AAAAAAAAAAAAAAAAAAAAAA=="), 24, "!!!!");
                      return header;
                    },
                    false, kMalformed},
        HostileCase{"AgileMalformedXml",
                    [] {
                      const std::string header = AgileHeader("spinCount=\"1\"");
                      return header.substr(0, header.size() - 20);
                    },
                    false, "the encryption information XML is malformed"},
        HostileCase{"Extensible", [] { return Le16(4) + Le16(3) + std::string(200, '\0'); }, false,
                    "the workbook is protected by a password"},
        HostileCase{"StandardCutShort",
                    [] {
                      const std::string header = StandardHeader(0x24, 0x660E, 128);
                      return header.substr(0, header.size() - 10);
                    },
                    false, kMalformed},
        HostileCase{"StandardKeySizeDisagrees", [] { return StandardHeader(0x24, 0x660E, 256); },
                    false, kMalformed},
        HostileCase{"StandardHeaderSizeHuge",
                    [] {
                      std::string header = StandardHeader(0x24, 0x660E, 128);
                      header.replace(8, 4, Le32(0xFFFFFFF0));
                      return header;
                    },
                    false, kMalformed},
        HostileCase{"StandardWithoutAes", [] { return StandardHeader(0x04, 0x6801, 128); }, false,
                    "the workbook is protected by a password"},
        HostileCase{"EncryptionInfoTooLarge",
                    [] { return StandardHeader(0x24, 0x660E, 128) + std::string(2 << 20, '\0'); },
                    false, kMalformed},
        HostileCase{"FilePassCutShort", [] { return Le16(1) + Le16(1) + Le16(1) + "salt"; }, true,
                    kMalformed},
        HostileCase{"FilePassCryptoApiKeyOf200Bits",
                    [] {
                      const std::string header = StandardHeader(0x04, 0x6801, 200);
                      return Le16(1) + Le16(4) + Le16(2) + header.substr(4);
                    },
                    true, kMalformed},
        HostileCase{"FilePassUnknownType", [] { return Le16(7) + std::string(50, '\0'); }, true,
                    "the workbook is protected by a password"}));

// The Agile data-integrity check: a package changed after encryption is refused, as is one
// cut short.
TEST(EncryptedWorkbook, AgilePackageFailsItsIntegrityCheckWhenChangedOrCutShort) {
  const CompoundFile file(Fixture("agile-secret.xlsx"));
  auto read = [&](const char* name) {
    const std::optional<CompoundFile::Entry> entry = file.FindStream(name);
    CompoundFile::Stream stream = file.OpenStream(*entry);
    std::string bytes(static_cast<size_t>(entry->size), '\0');
    stream.Read(bytes.data(), bytes.size());
    return bytes;
  };
  const std::string info = read("EncryptionInfo");
  const std::string package = read("EncryptedPackage");
  auto decrypt = [&](const std::string& bytes) {
    return ErrorOf([&] {
      PieceStream input(bytes);
      OpenPackageDecryptor(info, "secret")->Decrypt(input, [](std::string_view) {});
    });
  };
  EXPECT_EQ(decrypt(package), "no error");
  std::string changed = package;
  changed[package.size() / 2] ^= 1;
  EXPECT_EQ(decrypt(changed),
            "the file is damaged (the encrypted package fails its integrity "
            "check)");
  EXPECT_EQ(decrypt(package.substr(0, package.size() / 2)),
            "the file is damaged (the encrypted package is cut off)");
}

}  // namespace
}  // namespace cellverter
