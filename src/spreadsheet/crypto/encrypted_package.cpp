#include "spreadsheet/crypto/encrypted_package.h"

#include <unistd.h>

#include <optional>
#include <utility>

#include "platform/error.h"
#include "platform/unique_fd.h"
#include "spreadsheet/container/compound_file.h"
#include "spreadsheet/crypto/office_crypto.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/workbook_source.h"
#include "spreadsheet/xlsx/sheet_spool.h"

namespace cellverter {
namespace {

class CompoundStream final : public ByteStream {
 public:
  explicit CompoundStream(CompoundFile::Stream stream) : stream_(std::move(stream)) {}
  size_t Read(char* buffer, size_t capacity) override { return stream_.Read(buffer, capacity); }

 private:
  CompoundFile::Stream stream_;
};

}  // namespace

std::unique_ptr<WorkbookSource> OpenEncryptedPackage(const CompoundFile& file,
                                                     std::string_view password) {
  const std::string& path = file.path();
  return WithWorkbookErrors(path, [&] {
    const std::optional<CompoundFile::Entry> infoEntry = file.FindStream("EncryptionInfo");
    const std::optional<CompoundFile::Entry> packageEntry = file.FindStream("EncryptedPackage");
    // Without its EncryptionInfo the package says only that it is encrypted.
    if (!infoEntry || !packageEntry) throw PasswordRefused(std::string(kPasswordProtectedCause));
    if (infoEntry->size > kMaxEncryptionInfoSize) {
      throw WorkbookDamaged("the encryption information is malformed");
    }
    std::string info(static_cast<size_t>(infoEntry->size), '\0');
    CompoundFile::Stream infoStream = file.OpenStream(*infoEntry);
    if (infoStream.Read(info.data(), info.size()) != info.size()) {
      throw WorkbookDamaged("the encryption information is cut off");
    }
    const std::unique_ptr<PackageDecryptor> decryptor = OpenPackageDecryptor(info, password);

    UniqueFd temporary(OpenTemporaryFile());
    uint64_t written = 0;
    CompoundStream encrypted(file.OpenStream(*packageEntry));
    // A package cut off cannot be decrypted and checked: nothing of it is read.
    if (file.Truncated()) throw WorkbookDamaged("the file is truncated");
    decryptor->Decrypt(encrypted, [&](std::string_view bytes) {
      WriteTemporaryFile(temporary.get(), written, bytes);
      written += bytes.size();
    });
    return OpenZipWorkbook(path, temporary.release());
  });
}

}  // namespace cellverter
