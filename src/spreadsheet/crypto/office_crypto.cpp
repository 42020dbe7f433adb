#include "spreadsheet/crypto/office_crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/provider.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/little_endian.h"
#include "spreadsheet/workbook_error.h"
#include "spreadsheet/xlsx/xml_scanner.h"

namespace cellverter {
namespace {

constexpr std::string_view kMalformed = "the encryption information is malformed";
constexpr uint64_t kRc4BlockSize = 1024;        // BIFF8 re-keys RC4 every 1024 bytes
constexpr size_t kAgileSegmentSize = 4096;      // MS-OFFCRYPTO 2.3.4.15
constexpr uint32_t kStandardSpinCount = 50000;  // MS-OFFCRYPTO 2.3.4.7
constexpr size_t kMaxEncryptedValue = 1024;     // an encrypted key, verifier or HMAC value

[[noreturn]] void Damaged(std::string_view detail = kMalformed) {
  throw WorkbookDamaged(std::string(detail));
}
[[noreturn]] void NotReadable() { throw PasswordRefused(std::string(kPasswordProtectedCause)); }
[[noreturn]] void CryptoFailure() {
  throw std::runtime_error("the cryptography library failed to decrypt it");
}

std::string Le32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// Reads little-endian fields and refuses to read past the end.
class FieldReader {
 public:
  explicit FieldReader(std::string_view data) : data_(data) {}
  std::string_view Take(size_t count) {
    if (count > data_.size() - pos_) Damaged();
    const std::string_view bytes = data_.substr(pos_, count);
    pos_ += count;
    return bytes;
  }
  uint16_t U16() { return LoadLe16(Take(2).data()); }
  uint32_t U32() { return LoadLe32(Take(4).data()); }
  std::string_view Rest() { return Take(data_.size() - pos_); }

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

// The password as the key derivations hash it: UTF-16LE, without a terminator.
std::string Utf16Le(std::string_view utf8) {
  std::vector<UChar> units(utf8.size() + 1);
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(units.data(), static_cast<int32_t>(units.size()), &length, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  std::string bytes;
  for (int32_t i = 0; i < length; ++i) {
    bytes += static_cast<char>(units[static_cast<size_t>(i)] & 0xFF);
    bytes += static_cast<char>(units[static_cast<size_t>(i)] >> 8);
  }
  return bytes;
}

struct MdFree {
  void operator()(EVP_MD* md) const { EVP_MD_free(md); }
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
  void operator()(EVP_MAC_CTX* ctx) const { EVP_MAC_CTX_free(ctx); }
  void operator()(EVP_ENCODE_CTX* ctx) const { EVP_ENCODE_CTX_free(ctx); }
};

// One hash algorithm, fetched once, with a context reused for every digest (the key
// derivations hash up to millions of times).
class Hasher {
 public:
  explicit Hasher(const char* name) : md_(EVP_MD_fetch(nullptr, name, nullptr)) {
    if (!md_ || !ctx_) CryptoFailure();
  }
  size_t size() const { return static_cast<size_t>(EVP_MD_get_size(md_.get())); }
  const char* name() const { return EVP_MD_get0_name(md_.get()); }

  std::string Digest(std::initializer_list<std::string_view> parts) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!EVP_DigestInit_ex(ctx_.get(), md_.get(), nullptr)) CryptoFailure();
    for (const std::string_view part : parts) {
      if (!EVP_DigestUpdate(ctx_.get(), part.data(), part.size())) CryptoFailure();
    }
    if (!EVP_DigestFinal_ex(ctx_.get(), out, &length)) CryptoFailure();
    return std::string(reinterpret_cast<char*>(out), length);
  }

  // H0 = H(salt + password); Hn = H(iterator + Hn-1) (MS-OFFCRYPTO 2.3.4.7, 2.3.4.11).
  std::string SpunHash(std::string_view salt, std::string_view password, uint32_t spinCount) {
    std::string hash = Digest({salt, password});
    for (uint32_t i = 0; i < spinCount; ++i) hash = Digest({Le32(i), hash});
    return hash;
  }

 private:
  std::unique_ptr<EVP_MD, MdFree> md_;
  std::unique_ptr<EVP_MD_CTX, MdFree> ctx_{EVP_MD_CTX_new()};
};

// A block cipher without padding, decrypting.
class BlockDecrypter {
 public:
  BlockDecrypter(const EVP_CIPHER* cipher, std::string_view key) {
    if (!ctx_ ||
        !EVP_DecryptInit_ex(ctx_.get(), cipher, nullptr,
                            reinterpret_cast<const unsigned char*>(key.data()), nullptr) ||
        !EVP_CIPHER_CTX_set_padding(ctx_.get(), 0)) {
      CryptoFailure();
    }
  }
  // Sets the initialisation vector of the next message (CBC).
  void Restart(std::string_view iv) {
    if (!EVP_DecryptInit_ex(ctx_.get(), nullptr, nullptr, nullptr,
                            reinterpret_cast<const unsigned char*>(iv.data()))) {
      CryptoFailure();
    }
  }
  // `size` is a multiple of the block size; decrypts in place.
  void Apply(char* data, size_t size) {
    int produced = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(data);
    if (!EVP_DecryptUpdate(ctx_.get(), bytes, &produced, bytes, static_cast<int>(size)) ||
        static_cast<size_t>(produced) != size) {
      CryptoFailure();
    }
  }
  std::string Decrypt(std::string_view data) {
    std::string out(data);
    Apply(out.data(), out.size());
    return out;
  }

 private:
  std::unique_ptr<EVP_CIPHER_CTX, MdFree> ctx_{EVP_CIPHER_CTX_new()};
};

const EVP_CIPHER* Aes(size_t keyBytes, bool cbc) {
  switch (keyBytes) {
    case 16:
      return cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
    case 24:
      return cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
    case 32:
      return cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
    default:
      Damaged();
  }
}

// RC4 lives in OpenSSL 3's legacy provider. It is loaded into a library context of our own,
// so that the rest of the program keeps OpenSSL's defaults.
const EVP_CIPHER* Rc4Cipher() {
  static EVP_CIPHER* const cipher = []() -> EVP_CIPHER* {
    OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
    if (context == nullptr || OSSL_PROVIDER_load(context, "legacy") == nullptr ||
        OSSL_PROVIDER_load(context, "default") == nullptr) {
      return nullptr;
    }
    return EVP_CIPHER_fetch(context, "RC4", nullptr);
  }();
  if (cipher == nullptr) throw std::runtime_error("RC4 is missing from the cryptography library");
  return cipher;
}

// An RC4 key stream that can be restarted with a new key and skipped forward.
class Rc4 {
 public:
  void Reset(std::string_view key) {
    if (!ctx_ || !EVP_CIPHER_CTX_reset(ctx_.get()) ||
        !EVP_DecryptInit_ex(ctx_.get(), Rc4Cipher(), nullptr, nullptr, nullptr) ||
        !EVP_CIPHER_CTX_set_key_length(ctx_.get(), static_cast<int>(key.size())) ||
        !EVP_DecryptInit_ex(ctx_.get(), nullptr, nullptr,
                            reinterpret_cast<const unsigned char*>(key.data()), nullptr)) {
      CryptoFailure();
    }
  }
  void Apply(char* data, size_t size) {
    int produced = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(data);
    if (size > 0 &&
        !EVP_DecryptUpdate(ctx_.get(), bytes, &produced, bytes, static_cast<int>(size))) {
      CryptoFailure();
    }
  }
  void Skip(size_t count) {
    char scratch[kRc4BlockSize] = {};
    while (count > 0) {
      const size_t n = std::min(count, sizeof scratch);
      Apply(scratch, n);
      count -= n;
    }
  }

 private:
  std::unique_ptr<EVP_CIPHER_CTX, MdFree> ctx_{EVP_CIPHER_CTX_new()};
};

// Tries Excel's default password, then the user's; `attempt` returns null when a password
// does not fit.
template <typename Attempt>
auto FirstPasswordThatFits(std::string_view password, Attempt&& attempt) {
  if (auto opened = attempt(kExcelDefaultPassword)) return opened;
  if (!password.empty() && password != kExcelDefaultPassword) {
    if (auto opened = attempt(password)) return opened;
  }
  throw PasswordRefused(
      std::string(password.empty() ? kPasswordProtectedCause : kWrongPasswordCause));
}

// ---------------------------------------------------------------------------------------
// BIFF8: XOR obfuscation method 1 (MS-OFFCRYPTO 2.3.7.1-2.3.7.3)

constexpr uint8_t kPadArray[15] = {0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80,
                                   0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00};
constexpr uint16_t kInitialCode[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C,
                                       0x0E10, 0xF1CE, 0x313E, 0x1872, 0xE139,
                                       0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};
constexpr uint16_t kXorMatrix[105] = {
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7,
    0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4,
    0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45,
    0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC,
    0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD,
    0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483,
    0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
    0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373,
    0x06E6, 0x0DCC, 0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4};

uint8_t RotateRight(uint8_t value, int bits) {
  return static_cast<uint8_t>(value >> bits | value << (8 - bits));
}

// The 8-bit password of the XOR methods: of each UTF-16 unit the low byte, or the high byte
// when the low one is zero.
std::string XorPassword(std::string_view password) {
  const std::string utf16 = Utf16Le(password);
  std::string bytes;
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
    bytes += utf16[i] != 0 ? utf16[i] : utf16[i + 1];
  }
  return bytes;
}

uint16_t XorKeyMethod1(std::string_view password) {
  uint16_t key = kInitialCode[password.size() - 1];
  size_t element = std::size(kXorMatrix) - 1;
  for (auto c = password.rbegin(); c != password.rend(); ++c) {
    auto ch = static_cast<uint8_t>(*c);
    for (int bit = 0; bit < 7; ++bit, --element) {
      if (ch & 0x40) key ^= kXorMatrix[element];
      ch = static_cast<uint8_t>(ch << 1);
    }
  }
  return key;
}

uint16_t PasswordVerifierMethod1(std::string_view password) {
  uint16_t verifier = 0;
  auto step = [&](uint8_t byte) {
    const uint16_t carry = (verifier & 0x4000) ? 1 : 0;
    verifier = static_cast<uint16_t>((((verifier << 1) & 0x7FFF) | carry) ^ byte);
  };
  for (auto c = password.rbegin(); c != password.rend(); ++c) step(static_cast<uint8_t>(*c));
  step(static_cast<uint8_t>(password.size()));
  return verifier ^ 0xCE4B;
}

std::array<uint8_t, 16> XorArrayMethod1(std::string_view password) {
  const uint16_t key = XorKeyMethod1(password);
  const auto high = static_cast<uint8_t>(key >> 8), low = static_cast<uint8_t>(key);
  auto xorRor = [](uint8_t a, uint8_t b) { return RotateRight(a ^ b, 1); };
  auto pw = [&](size_t i) { return static_cast<uint8_t>(password[i]); };
  std::array<uint8_t, 16> array{};
  size_t index = password.size();
  if (index % 2 == 1) {
    array[index] = xorRor(kPadArray[0], high);
    --index;
    array[index] = xorRor(pw(password.size() - 1), low);
  }
  while (index > 0) {
    --index;
    array[index] = xorRor(pw(index), high);
    --index;
    array[index] = xorRor(pw(index), low);
  }
  // The rest from the pad array, two bytes at a time; an odd count ends with index 0.
  index = 15;
  for (auto pad = static_cast<int>(15 - password.size()); pad > 0; pad -= 2, index -= 2) {
    array[index] = xorRor(kPadArray[pad], high);
    array[index - 1] = xorRor(kPadArray[pad - 1], low);
  }
  return array;
}

class XorBiffDecryptor final : public BiffDecryptor {
 public:
  explicit XorBiffDecryptor(std::array<uint8_t, 16> xorArray) : xorArray_(xorArray) {}

 protected:
  // The array index starts at the position after the record's data (MS-XLS 2.2.10).
  void Decrypt(uint64_t dataOffset, size_t from, char* data, size_t size) override {
    for (size_t i = from; i < size; ++i) {
      const auto value = static_cast<uint8_t>(static_cast<uint8_t>(data[i]) ^
                                              xorArray_[(dataOffset + size + i) % 16]);
      data[i] = static_cast<char>(RotateRight(value, 5));
    }
  }

 private:
  std::array<uint8_t, 16> xorArray_;
};

// ---------------------------------------------------------------------------------------
// BIFF8: RC4 (MS-OFFCRYPTO 2.3.6) and RC4 CryptoAPI (2.3.5), keyed per 1024-byte block

class Rc4BiffDecryptor final : public BiffDecryptor {
 public:
  using BlockKey = std::function<std::string(uint32_t block)>;
  explicit Rc4BiffDecryptor(BlockKey blockKey) : blockKey_(std::move(blockKey)) {}

 protected:
  void Decrypt(uint64_t dataOffset, size_t from, char* data, size_t size) override {
    uint64_t position = dataOffset + from;
    for (size_t i = from; i < size;) {
      const uint64_t block = position / kRc4BlockSize;
      const auto offset = static_cast<size_t>(position % kRc4BlockSize);
      if (block != block_ || offset < at_) {
        rc4_.Reset(blockKey_(static_cast<uint32_t>(block)));
        block_ = block;
        at_ = 0;
      }
      rc4_.Skip(offset - at_);
      const size_t take = std::min(size - i, static_cast<size_t>(kRc4BlockSize) - offset);
      rc4_.Apply(data + i, take);
      at_ = offset + take;
      i += take;
      position += take;
    }
  }

 private:
  BlockKey blockKey_;
  Rc4 rc4_;
  uint64_t block_ = UINT64_MAX;
  size_t at_ = 0;  // the key stream's position inside block_
};

// Decrypts verifier and verifier hash as one RC4 stream with the key of block 0 and compares
// the verifier's hash.
bool Rc4VerifierFits(std::string_view key, std::string_view encryptedVerifier,
                     std::string_view encryptedHash, Hasher& hasher) {
  Rc4 rc4;
  rc4.Reset(key);
  std::string verifier(encryptedVerifier), hash(encryptedHash);
  rc4.Apply(verifier.data(), verifier.size());
  rc4.Apply(hash.data(), hash.size());
  return hasher.Digest({verifier}) == hash;
}

std::unique_ptr<BiffDecryptor> OpenRc4(FieldReader& info, std::string_view password) {
  const std::string salt(info.Take(16));
  const std::string_view encryptedVerifier = info.Take(16);
  const std::string_view encryptedHash = info.Take(16);
  return FirstPasswordThatFits(
      password, [&](std::string_view candidate) -> std::unique_ptr<BiffDecryptor> {
        Hasher md5("MD5");
        const std::string h0 = md5.Digest({Utf16Le(candidate)}).substr(0, 5);
        std::string repeated;
        for (int i = 0; i < 16; ++i) repeated += h0 + salt;
        const std::string h1 = md5.Digest({repeated}).substr(0, 5);
        auto blockKey = [h1, md5 = std::make_shared<Hasher>("MD5")](uint32_t block) {
          return md5->Digest({h1, Le32(block)});
        };
        if (!Rc4VerifierFits(blockKey(0), encryptedVerifier, encryptedHash, md5)) return nullptr;
        return std::make_unique<Rc4BiffDecryptor>(blockKey);
      });
}

// EncryptionHeader (MS-OFFCRYPTO 2.3.2), the fields that matter here.
struct EncryptionHeader {
  uint32_t flags = 0;
  uint32_t algorithm = 0;
  uint32_t hashAlgorithm = 0;
  uint32_t keyBits = 0;
};

constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagExternal = 0x10;
constexpr uint32_t kFlagAes = 0x20;
constexpr uint32_t kAlgorithmRc4 = 0x6801;
constexpr uint32_t kAlgorithmSha1 = 0x8004;

EncryptionHeader ReadEncryptionHeader(FieldReader& info) {
  info.U32();  // EncryptionHeader.Flags again, as the version's flags field
  const uint32_t headerSize = info.U32();
  if (headerSize < 32 || headerSize > 4096) Damaged();
  FieldReader header(info.Take(headerSize));
  EncryptionHeader result;
  result.flags = header.U32();
  header.U32();  // SizeExtra
  result.algorithm = header.U32();
  result.hashAlgorithm = header.U32();
  result.keyBits = header.U32();
  return result;
}

// EncryptionVerifier (MS-OFFCRYPTO 2.3.3): a 16-byte salt, the encrypted verifier and the
// encrypted SHA-1 of the verifier, which takes `encryptedHashBytes` (20 for RC4, 32 for AES,
// padded to its block).
struct EncryptionVerifier {
  std::string salt;
  std::string_view encryptedVerifier;
  std::string_view encryptedHash;
};

EncryptionVerifier ReadEncryptionVerifier(FieldReader& info, size_t encryptedHashBytes) {
  EncryptionVerifier verifier;
  if (info.U32() != 16) Damaged();  // SaltSize
  verifier.salt = std::string(info.Take(16));
  verifier.encryptedVerifier = info.Take(16);
  if (info.U32() != 20) Damaged();  // VerifierHashSize of SHA-1
  verifier.encryptedHash = info.Take(encryptedHashBytes);
  return verifier;
}

std::unique_ptr<BiffDecryptor> OpenRc4CryptoApi(FieldReader& info, std::string_view password) {
  const EncryptionHeader header = ReadEncryptionHeader(info);
  if (!(header.flags & kFlagCryptoApi) || (header.flags & (kFlagAes | kFlagExternal)) ||
      (header.algorithm != kAlgorithmRc4 && header.algorithm != 0) ||
      (header.hashAlgorithm != kAlgorithmSha1 && header.hashAlgorithm != 0)) {
    NotReadable();
  }
  const uint32_t keyBits = header.keyBits == 0 ? 40 : header.keyBits;
  if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0) Damaged();
  const EncryptionVerifier verifier = ReadEncryptionVerifier(info, 20);
  return FirstPasswordThatFits(
      password, [&](std::string_view candidate) -> std::unique_ptr<BiffDecryptor> {
        auto sha1 = std::make_shared<Hasher>("SHA1");
        const std::string h0 = sha1->Digest({verifier.salt, Utf16Le(candidate)});
        // A 40-bit key is used as a 128-bit key whose last 88 bits are zero (MS-OFFCRYPTO
        // 2.3.5.2).
        auto blockKey = [h0, sha1, keyBytes = keyBits / 8](uint32_t block) {
          std::string key = sha1->Digest({h0, Le32(block)}).substr(0, keyBytes);
          if (keyBytes == 5) key.resize(16, '\0');
          return key;
        };
        if (!Rc4VerifierFits(blockKey(0), verifier.encryptedVerifier, verifier.encryptedHash,
                             *sha1))
          return nullptr;
        return std::make_unique<Rc4BiffDecryptor>(blockKey);
      });
}

// ---------------------------------------------------------------------------------------
// Packages: Standard encryption (MS-OFFCRYPTO 2.3.4.5-2.3.4.9)

// Reads the whole stream into `sink` in pieces of a multiple of `unit` bytes (the last piece
// may be shorter).
template <typename Sink>
void ReadInUnits(ByteStream& input, size_t unit, Sink&& sink) {
  std::vector<char> buffer(unit * std::max<size_t>(1, (256 * 1024) / unit));
  size_t filled = 0;
  for (;;) {
    const size_t got = input.Read(buffer.data() + filled, buffer.size() - filled);
    filled += got;
    if (got == 0 || filled == buffer.size()) {
      const size_t whole = got == 0 ? filled : filled - filled % unit;
      if (whole > 0) sink(std::string_view(buffer.data(), whole));
      std::memmove(buffer.data(), buffer.data() + whole, filled - whole);
      filled -= whole;
      if (got == 0) return;
    }
  }
}

// The 8-byte StreamSize that starts the EncryptedPackage stream.
uint64_t ReadPackageSize(ByteStream& input, std::string& raw) {
  raw.resize(8);
  size_t got = 0;
  while (got < 8) {
    const size_t n = input.Read(raw.data() + got, 8 - got);
    if (n == 0) Damaged("the encrypted package is cut off");
    got += n;
  }
  return LoadLe64(raw.data());
}

class StandardDecryptor final : public PackageDecryptor {
 public:
  explicit StandardDecryptor(std::string key) : key_(std::move(key)) {}

  void Decrypt(ByteStream& input, const std::function<void(std::string_view)>& output) override {
    std::string header;
    uint64_t remaining = ReadPackageSize(input, header);
    BlockDecrypter aes(Aes(key_.size(), false), key_);
    std::string plain;
    ReadInUnits(input, 16, [&](std::string_view piece) {
      if (remaining == 0) return;  // padding after the package
      plain.assign(piece.substr(0, piece.size() - piece.size() % 16));
      aes.Apply(plain.data(), plain.size());
      const auto take = static_cast<size_t>(std::min<uint64_t>(remaining, plain.size()));
      output(std::string_view(plain.data(), take));
      remaining -= take;
    });
    if (remaining > 0) Damaged("the encrypted package is cut off");
  }

 private:
  std::string key_;
};

std::unique_ptr<PackageDecryptor> OpenStandard(FieldReader& info, std::string_view password) {
  const EncryptionHeader header = ReadEncryptionHeader(info);
  if (!(header.flags & kFlagAes) || (header.flags & kFlagExternal) ||
      (header.hashAlgorithm != kAlgorithmSha1 && header.hashAlgorithm != 0)) {
    NotReadable();
  }
  size_t keyBytes = 16;
  switch (header.algorithm) {
    case 0:
    case 0x660E:
      keyBytes = 16;
      break;
    case 0x660F:
      keyBytes = 24;
      break;
    case 0x6610:
      keyBytes = 32;
      break;
    default:
      NotReadable();
  }
  if (header.keyBits != keyBytes * 8) Damaged();
  const EncryptionVerifier verifier = ReadEncryptionVerifier(info, 32);
  return FirstPasswordThatFits(
      password, [&](std::string_view candidate) -> std::unique_ptr<PackageDecryptor> {
        Hasher sha1("SHA1");
        const std::string hash = sha1.Digest(
            {sha1.SpunHash(verifier.salt, Utf16Le(candidate), kStandardSpinCount), Le32(0)});
        // CryptDeriveKey: the hash XORed into 64 bytes of 0x36, then of 0x5C.
        std::string inner(64, '\x36'), outer(64, '\x5C');
        for (size_t i = 0; i < hash.size(); ++i) {
          inner[i] ^= hash[i];
          outer[i] ^= hash[i];
        }
        const std::string key = (sha1.Digest({inner}) + sha1.Digest({outer})).substr(0, keyBytes);
        BlockDecrypter aes(Aes(keyBytes, false), key);
        const std::string plainVerifier = aes.Decrypt(verifier.encryptedVerifier);
        if (sha1.Digest({plainVerifier}) != aes.Decrypt(verifier.encryptedHash).substr(0, 20)) {
          return nullptr;
        }
        return std::make_unique<StandardDecryptor>(key);
      });
}

// ---------------------------------------------------------------------------------------
// Packages: Agile encryption (MS-OFFCRYPTO 2.3.4.10-2.3.4.15)

constexpr std::string_view kVerifierInputBlock = "\xfe\xa7\xd2\x76\x3b\x4b\x9e\x79";
constexpr std::string_view kVerifierValueBlock = "\xd7\xaa\x0f\x6d\x30\x61\x34\x4e";
constexpr std::string_view kKeyValueBlock = "\x14\x6e\x0b\xe7\xab\xac\xd0\xd6";
constexpr std::string_view kHmacKeyBlock = "\x5f\xb2\xad\x01\x0c\xb9\xe1\xf6";
constexpr std::string_view kHmacValueBlock = "\xa0\x67\x7f\x02\xb2\x2c\x84\x33";
constexpr std::string_view kPasswordEncryptor =
    "http://schemas.microsoft.com/office/2006/keyEncryptor/password";

class MemoryStream final : public ByteStream {
 public:
  explicit MemoryStream(std::string_view data) : data_(data) {}
  size_t Read(char* buffer, size_t capacity) override {
    const size_t n = std::min(capacity, data_.size());
    std::memcpy(buffer, data_.data(), n);
    data_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view data_;
};

std::string Base64(std::string_view text) {
  std::unique_ptr<EVP_ENCODE_CTX, MdFree> ctx(EVP_ENCODE_CTX_new());
  if (!ctx || text.size() > kMaxEncryptedValue * 2) Damaged();
  std::string out(text.size() * 3 / 4 + 3, '\0');
  int length = 0, last = 0;
  EVP_DecodeInit(ctx.get());
  if (EVP_DecodeUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length,
                       reinterpret_cast<const unsigned char*>(text.data()),
                       static_cast<int>(text.size())) < 0 ||
      EVP_DecodeFinal(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + length, &last) !=
          1) {
    Damaged();
  }
  out.resize(static_cast<size_t>(length + last));
  return out;
}

uint32_t Number(std::string_view text, uint32_t max) {
  if (text.empty() || text.size() > 10) Damaged();
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') Damaged();
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > max) Damaged();
  return static_cast<uint32_t>(value);
}

// The cipher and hash attributes shared by keyData and a password key encryptor
// (CT_KeyData, CT_PasswordKeyEncryptor).
struct AgileCipher {
  std::string hashName;
  size_t hashSize = 0;
  size_t keyBytes = 0;
  std::string salt;

  void Read(const XmlScanner& xml) {
    if (xml.Attribute("cipherAlgorithm") != "AES" ||
        xml.Attribute("cipherChaining") != "ChainingModeCBC" ||
        xml.Attribute("blockSize") != "16") {
      NotReadable();
    }
    const std::string hash = xml.Attribute("hashAlgorithm");
    if (hash == "SHA1" || hash == "SHA-1") {
      hashName = "SHA1";
    } else if (hash == "SHA256" || hash == "SHA384" || hash == "SHA512") {
      hashName = hash;
    } else {
      NotReadable();
    }
    hashSize = Number(xml.Attribute("hashSize"), 64);
    const uint32_t keyBits = Number(xml.Attribute("keyBits"), 256);
    if (keyBits != 128 && keyBits != 192 && keyBits != 256) Damaged();
    keyBytes = keyBits / 8;
    salt = Base64(xml.Attribute("saltValue"));
    if (salt.empty() || salt.size() != Number(xml.Attribute("saltSize"), 65536)) Damaged();
  }
};

// `bytes` cut or padded with 0x36 to `size` (MS-OFFCRYPTO 2.3.4.11, 2.3.4.12).
std::string Fit(std::string bytes, size_t size) {
  bytes.resize(size, '\x36');
  return bytes;
}

std::string DecryptCbc(std::string_view key, std::string_view iv, std::string_view data) {
  if (data.empty() || data.size() % 16 != 0) Damaged();
  BlockDecrypter aes(Aes(key.size(), true), key);
  aes.Restart(iv);
  return aes.Decrypt(data);
}

struct AgileInfo {
  AgileCipher keyData;
  std::string encryptedHmacKey, encryptedHmacValue;
  bool havePassword = false;
  AgileCipher password;
  uint32_t spinCount = 0;
  std::string encryptedVerifierInput, encryptedVerifierValue, encryptedKey;
};

AgileInfo ReadAgileInfo(std::string_view xmlText) {
  MemoryStream stream(xmlText);
  XmlScanner xml(stream, "the encryption information");
  AgileInfo info;
  bool haveKeyData = false;
  std::string encryptorUri;
  for (XmlScanner::Event event; (event = xml.Next()) != XmlScanner::Event::EndOfDocument;) {
    if (event != XmlScanner::Event::Start) continue;
    const std::string_view name = xml.Name();
    if (name == "keyData") {
      info.keyData.Read(xml);
      haveKeyData = true;
    } else if (name == "dataIntegrity") {
      info.encryptedHmacKey = Base64(xml.Attribute("encryptedHmacKey"));
      info.encryptedHmacValue = Base64(xml.Attribute("encryptedHmacValue"));
    } else if (name == "keyEncryptor") {
      encryptorUri = xml.Attribute("uri");
    } else if (name == "encryptedKey" && encryptorUri == kPasswordEncryptor && !info.havePassword) {
      info.password.Read(xml);
      const std::string spin = xml.Attribute("spinCount");
      if (spin.size() > 10 || Number(spin, UINT32_MAX) > kMaxSpinCount) {
        Damaged("the encryption asks for more than 10,000,000 key derivation rounds");
      }
      info.spinCount = Number(spin, kMaxSpinCount);
      info.encryptedVerifierInput = Base64(xml.Attribute("encryptedVerifierHashInput"));
      info.encryptedVerifierValue = Base64(xml.Attribute("encryptedVerifierHashValue"));
      info.encryptedKey = Base64(xml.Attribute("encryptedKeyValue"));
      info.havePassword = true;
    }
  }
  if (!haveKeyData) Damaged();
  if (!info.havePassword) NotReadable();  // certificate-only encryption
  return info;
}

class AgileDecryptor final : public PackageDecryptor {
 public:
  AgileDecryptor(AgileCipher keyData, std::string secretKey, std::string hmacKey,
                 std::string hmacValue)
      : keyData_(std::move(keyData)),
        secretKey_(std::move(secretKey)),
        hmacKey_(std::move(hmacKey)),
        hmacValue_(std::move(hmacValue)) {}

  void Decrypt(ByteStream& input, const std::function<void(std::string_view)>& output) override {
    std::unique_ptr<EVP_MAC, MdFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    std::unique_ptr<EVP_MAC_CTX, MdFree> hmac(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr);
    std::string digestName = keyData_.hashName;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName.data(), 0),
        OSSL_PARAM_construct_end()};
    if (!hmac || !EVP_MAC_init(hmac.get(), reinterpret_cast<const unsigned char*>(hmacKey_.data()),
                               hmacKey_.size(), params)) {
      CryptoFailure();
    }
    auto authenticate = [&](std::string_view bytes) {
      if (!EVP_MAC_update(hmac.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                          bytes.size())) {
        CryptoFailure();
      }
    };

    std::string header;
    uint64_t remaining = ReadPackageSize(input, header);
    authenticate(header);
    Hasher hasher(keyData_.hashName.c_str());
    BlockDecrypter aes(Aes(secretKey_.size(), true), secretKey_);
    std::string plain;
    uint32_t segment = 0;
    ReadInUnits(input, kAgileSegmentSize, [&](std::string_view piece) {
      authenticate(piece);
      for (size_t at = 0; at < piece.size() && remaining > 0; at += kAgileSegmentSize) {
        std::string_view block = piece.substr(at, kAgileSegmentSize);
        block = block.substr(0, block.size() - block.size() % 16);
        aes.Restart(Fit(hasher.Digest({keyData_.salt, Le32(segment++)}), 16));
        plain.assign(block);
        aes.Apply(plain.data(), plain.size());
        const auto take = static_cast<size_t>(std::min<uint64_t>(remaining, plain.size()));
        output(std::string_view(plain.data(), take));
        remaining -= take;
      }
    });
    if (remaining > 0) Damaged("the encrypted package is cut off");
    unsigned char digest[EVP_MAX_MD_SIZE];
    size_t length = 0;
    if (!EVP_MAC_final(hmac.get(), digest, &length, sizeof digest)) CryptoFailure();
    if (std::string_view(reinterpret_cast<char*>(digest), length) != hmacValue_) {
      Damaged("the encrypted package fails its integrity check");
    }
  }

 private:
  AgileCipher keyData_;
  std::string secretKey_;
  std::string hmacKey_;
  std::string hmacValue_;
};

std::unique_ptr<PackageDecryptor> OpenAgile(std::string_view xmlText, std::string_view password) {
  const AgileInfo info = ReadAgileInfo(xmlText);
  for (const std::string* value :
       {&info.encryptedHmacKey, &info.encryptedHmacValue, &info.encryptedVerifierInput,
        &info.encryptedVerifierValue, &info.encryptedKey}) {
    if (value->empty() || value->size() % 16 != 0) Damaged();
  }
  return FirstPasswordThatFits(
      password, [&](std::string_view candidate) -> std::unique_ptr<PackageDecryptor> {
        const AgileCipher& p = info.password;
        Hasher hasher(p.hashName.c_str());
        if (hasher.size() != p.hashSize) Damaged();
        const std::string spun = hasher.SpunHash(p.salt, Utf16Le(candidate), info.spinCount);
        auto key = [&](std::string_view blockKey) {
          return Fit(hasher.Digest({spun, blockKey}), p.keyBytes);
        };
        const std::string iv = Fit(p.salt, 16);
        const std::string input =
            DecryptCbc(key(kVerifierInputBlock), iv, info.encryptedVerifierInput);
        const std::string value =
            DecryptCbc(key(kVerifierValueBlock), iv, info.encryptedVerifierValue);
        if (hasher.Digest({input.substr(0, std::min(input.size(), p.salt.size()))}) !=
            value.substr(0, p.hashSize)) {
          return nullptr;
        }
        const AgileCipher& d = info.keyData;
        const std::string secret = DecryptCbc(key(kKeyValueBlock), iv, info.encryptedKey);
        if (secret.size() < d.keyBytes) Damaged();
        const std::string secretKey = secret.substr(0, d.keyBytes);
        Hasher dataHasher(d.hashName.c_str());
        if (dataHasher.size() != d.hashSize) Damaged();
        auto integrity = [&](std::string_view blockKey, const std::string& encrypted) {
          const std::string plain =
              DecryptCbc(secretKey, Fit(dataHasher.Digest({d.salt, blockKey}), 16), encrypted);
          if (plain.size() < d.hashSize) Damaged();
          return plain.substr(0, d.hashSize);
        };
        return std::make_unique<AgileDecryptor>(
            d, secretKey, integrity(kHmacKeyBlock, info.encryptedHmacKey),
            integrity(kHmacValueBlock, info.encryptedHmacValue));
      });
}

}  // namespace

void BiffDecryptor::DecryptRecord(uint16_t type, uint64_t dataOffset, char* data, size_t size) {
  switch (type) {
    case 0x0809:  // BOF
    case 0x002F:  // FILEPASS
    case 0x0194:  // USREXCL
    case 0x0195:  // FILELOCK
    case 0x00E1:  // INTERFACEHDR
    case 0x0196:  // RRDINFO
    case 0x0138:  // RRDHEAD
      return;
    case 0x0085:  // BOUNDSHEET8: its sheet's stream position stays in clear
      if (size > 4) Decrypt(dataOffset, 4, data, size);
      return;
    default:
      Decrypt(dataOffset, 0, data, size);
  }
}

std::unique_ptr<BiffDecryptor> OpenBiffDecryptor(std::string_view filePass,
                                                 std::string_view password) {
  FieldReader info(filePass);
  const uint16_t encryptionType = info.U16();
  if (encryptionType == 0) {  // XOR obfuscation (MS-XLS 2.5.343)
    const uint16_t key = info.U16();
    const uint16_t verifier = info.U16();
    return FirstPasswordThatFits(
        password, [&](std::string_view candidate) -> std::unique_ptr<BiffDecryptor> {
          const std::string bytes = XorPassword(candidate);
          if (bytes.empty() || bytes.size() > 15 || XorKeyMethod1(bytes) != key ||
              PasswordVerifierMethod1(bytes) != verifier) {
            return nullptr;
          }
          return std::make_unique<XorBiffDecryptor>(XorArrayMethod1(bytes));
        });
  }
  if (encryptionType != 1) NotReadable();
  const uint16_t major = info.U16();
  const uint16_t minor = info.U16();
  if (major == 1 && minor == 1) return OpenRc4(info, password);
  if (major >= 2 && major <= 4 && minor == 2) return OpenRc4CryptoApi(info, password);
  NotReadable();
}

std::unique_ptr<PackageDecryptor> OpenPackageDecryptor(std::string_view encryptionInfo,
                                                       std::string_view password) {
  if (encryptionInfo.size() > kMaxEncryptionInfoSize) Damaged();
  FieldReader info(encryptionInfo);
  const uint16_t major = info.U16();
  const uint16_t minor = info.U16();
  if (major >= 2 && major <= 4 && minor == 2) return OpenStandard(info, password);
  if (major == 4 && minor == 4) {
    info.U32();  // reserved, 0x40
    return OpenAgile(info.Rest(), password);
  }
  NotReadable();  // Extensible encryption and unknown versions
}

}  // namespace cellverter
