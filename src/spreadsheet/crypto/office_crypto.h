#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "spreadsheet/workbook_error.h"

#include "spreadsheet/container/zip_archive.h"

namespace cellverter {

// Decryption of password-protected Office files (MS-OFFCRYPTO): the record stream of an
// encrypted .xls (XOR obfuscation method 1, RC4, RC4 CryptoAPI) and the EncryptedPackage
// stream of an encrypted .xlsx (Standard and Agile encryption). The ciphers and hashes are
// OpenSSL's. Every size and count read from the file is bounded before it is used.
//
// Excel encrypts with the password "VelvetSweatshop" when a workbook only has a password to
// modify, or is saved read-only recommended, and opens such files without asking; so it is
// always tried first, then the password the user gave, if any.
inline constexpr std::string_view kExcelDefaultPassword = "VelvetSweatshop";

// The cause texts of a workbook that no password opens.
inline constexpr std::string_view kPasswordProtectedCause =
    "the workbook is protected by a password";
inline constexpr std::string_view kWrongPasswordCause = "the password is wrong";

// Thrown when no password opens a file, or when it is encrypted in a way we do not read; the
// text is the cause of a workbook error ("the workbook is protected by a password" when the
// user gave no password, else "the password is wrong").
class PasswordRefused : public WorkbookFault {
 public:
  explicit PasswordRefused(const std::string& cause)
      : WorkbookFault(cause, ErrorKind::kPasswordProtected) {}
};

// Key derivation of Agile encryption may ask for up to 10,000,000 hash rounds (Excel writes
// 100,000); anything above is refused as damaged rather than spun through.
inline constexpr uint32_t kMaxSpinCount = 10'000'000;
// The EncryptionInfo stream of a real file is a few kilobytes.
inline constexpr uint64_t kMaxEncryptionInfoSize = 1 << 20;

// Decrypts the records of an encrypted BIFF8 workbook stream (MS-XLS 2.2.10), from the
// FILEPASS record on. Record headers are never encrypted; the data of BOF, FILEPASS,
// USREXCL, FILELOCK, INTERFACEHDR, RRDINFO and RRDHEAD records and the sheet offset of
// BOUNDSHEET8 stay in clear. The key stream follows the byte's position in the stream, so
// records may be decrypted in any order.
class BiffDecryptor {
 public:
  virtual ~BiffDecryptor() = default;
  // `dataOffset`: the stream position of the record's first data byte (after its header).
  void DecryptRecord(uint16_t type, uint64_t dataOffset, char* data, size_t size);

 protected:
  // Decrypts data[from, size) of a record whose data starts at `dataOffset`.
  virtual void Decrypt(uint64_t dataOffset, size_t from, char* data, size_t size) = 0;
};

// The decryptor for the data of a FILEPASS record (MS-XLS 2.4.117), with the first password
// that fits: Excel's default one, then `password` unless it is empty. Throws PasswordRefused
// (also for an encryption we do not read) or WorkbookDamaged.
std::unique_ptr<BiffDecryptor> OpenBiffDecryptor(std::string_view filePass,
                                                 std::string_view password);

// Decrypts the EncryptedPackage stream of an encrypted Office Open XML file (MS-OFFCRYPTO
// 2.3.4.4): the zip package as it was before encryption.
class PackageDecryptor {
 public:
  virtual ~PackageDecryptor() = default;
  // Reads the whole EncryptedPackage stream from `input` and hands the package's bytes to
  // `output` piece by piece. Throws WorkbookDamaged when the stream is cut short or fails its
  // data-integrity check (Agile).
  virtual void Decrypt(ByteStream& input, const std::function<void(std::string_view)>& output) = 0;
};

// The decryptor for an EncryptionInfo stream (Standard: MS-OFFCRYPTO 2.3.4.5; Agile:
// 2.3.4.10), with the first password that fits as for OpenBiffDecryptor. Throws
// PasswordRefused (also for Extensible or certificate-only encryption) or WorkbookDamaged.
std::unique_ptr<PackageDecryptor> OpenPackageDecryptor(std::string_view encryptionInfo,
                                                       std::string_view password);

}  // namespace cellverter
