#include "http/server_exchange.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "platform/error.h"

#ifndef CELLVERTER_MAKER_HOST
#error "CELLVERTER_MAKER_HOST must name the maker's host"
#endif

namespace cellverter {
namespace {

// A reply is a few short lines; anything far larger is not the maker's server talking.
constexpr size_t kMaxReplyBytes = 1 << 20;

struct MakerOverride {
  std::mutex mutex;
  std::string httpsAuthority;
  std::string httpAuthority;
  std::string certificateFile;
};

// Never freed: a check thread may still read it while the process exits.
MakerOverride& Override() {
  static auto* value = new MakerOverride;
  return *value;
}

void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    // A check thread may still be inside a TLS exchange when the program ends; OpenSSL must
    // not tear itself down under it at exit.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    curl_global_init(CURL_GLOBAL_DEFAULT);
  });
}

std::string Lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return result;
}

bool IsFormBare(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

void AppendFormEncoded(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (IsFormBare(c)) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

struct Exchange {
  std::string statusLine;
  std::string contentType;
  std::string body;
  bool tooLarge = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  size_t bytes = size * count;
  if (exchange->body.size() + bytes > kMaxReplyBytes) {
    exchange->tooLarge = true;
    return 0;
  }
  exchange->body.append(data, bytes);
  return bytes;
}

std::string TrimLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) {
    line.remove_suffix(1);
  }
  return std::string(line);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    // A new response (after a redirect or an interim 100) starts over.
    exchange->statusLine = TrimLineEnd(line);
    exchange->contentType.clear();
  } else if (Lower(line.substr(0, 13)) == "content-type:") {
    exchange->contentType = TrimLineEnd(line.substr(13));
  }
  return size * count;
}

CURLcode TrustExtraCertificates(CURL*, void* sslContext, void* user) {
  const auto* file = static_cast<const std::string*>(user);
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  return X509_STORE_load_file(store, file->c_str()) == 1 ? CURLE_OK : CURLE_SSL_CERTPROBLEM;
}

// The charset parameter of a Content-Type value, "" when there is none.
std::string CharsetOf(std::string_view contentType) {
  std::string lower = Lower(contentType);
  size_t at = lower.find("charset=");
  if (at == std::string::npos) return {};
  std::string value = lower.substr(at + 8);
  value = value.substr(0, value.find(';'));
  std::erase_if(value, [](char c) { return c == '"' || c == '\'' || c == ' ' || c == '\t'; });
  return value;
}

std::string DecodeBody(const std::string& body, const std::string& charset) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(charset.empty() ? "UTF-8" : charset.c_str(), &status);
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    converter = ucnv_open("UTF-8", &status);
    if (U_FAILURE(status)) return body;
  }
  icu::UnicodeString text(body.data(), static_cast<int32_t>(body.size()), converter, status);
  ucnv_close(converter);
  if (U_FAILURE(status)) return body;
  std::string decoded;
  text.toUTF8String(decoded);
  return decoded;
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

std::string MakerAddress(std::string_view scheme, std::string_view path) {
  std::string authority = CELLVERTER_MAKER_HOST;
  {
    MakerOverride& override = Override();
    std::lock_guard lock(override.mutex);
    const std::string& replacement =
        scheme == "https" ? override.httpsAuthority : override.httpAuthority;
    if (!replacement.empty()) authority = replacement;
  }
  return std::string(scheme) + "://" + authority + std::string(path);
}

std::string MakerHomePage() { return std::string("http://") + CELLVERTER_MAKER_HOST; }

void SetMakerServerForTesting(std::string httpsAuthority, std::string httpAuthority,
                              std::string extraCertificateFile) {
  MakerOverride& override = Override();
  std::lock_guard lock(override.mutex);
  override.httpsAuthority = std::move(httpsAuthority);
  override.httpAuthority = std::move(httpAuthority);
  override.certificateFile = std::move(extraCertificateFile);
}

FieldList OpeningFields(std::string_view command, std::string_view appTitle,
                        std::string_view appVersion) {
  return {"cmd=" + std::string(command), "appname=" + std::string(appTitle),
          "version=" + std::string(appVersion)};
}

std::string EncodeFormBody(const FieldList& fields) {
  std::string body;
  for (const std::string& field : fields) {
    if (!body.empty()) body += '&';
    std::string_view line = field;
    size_t equals = line.find('=');
    AppendFormEncoded(body, line.substr(0, equals));
    body += '=';
    if (equals != std::string_view::npos) AppendFormEncoded(body, line.substr(equals + 1));
  }
  return body;
}

std::string PostRequest(const std::string& url, const FieldList& fields, long timeoutMs) {
  InitialiseOnce();
  const bool secure = Lower(url).starts_with("https://");
  std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
  if (!handle) throw Error("The HTTP client could not be created.");
  CURL* curl = handle.get();

  const std::string body = EncodeFormBody(fields);
  curl_slist* raw = nullptr;
  raw = curl_slist_append(raw,
                          secure ? "Content-Type: application/x-www-form-urlencoded; charset=utf-8"
                                 : "Content-Type: application/x-www-form-urlencoded");
  raw = curl_slist_append(raw, "Expect:");  // no 100-continue round trip
  if (secure) raw = curl_slist_append(raw, "Connection: close");
  std::unique_ptr<curl_slist, SlistDeleter> headers(raw);

  std::string certificateFile;
  {
    MakerOverride& override = Override();
    std::lock_guard lock(override.mutex);
    certificateFile = override.certificateFile;
  }

  Exchange exchange;
  char errorText[CURL_ERROR_SIZE] = {};
  const long timeout = std::max(1L, timeoutMs);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
  // Connection and response each get the time-out; a server that goes silent for that long
  // after connecting is given up as well.
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeout);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 2 * timeout);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (timeout + 999) / 1000);
  if (secure) {
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (!certificateFile.empty()) {
      curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, TrustExtraCertificates);
      curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &certificateFile);
    }
  } else {
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  }

  CURLcode result = curl_easy_perform(curl);
  if (result != CURLE_OK) {
    if (exchange.tooLarge) throw Error("The server's reply is too large.");
    throw Error(errorText[0] != '\0' ? errorText : curl_easy_strerror(result));
  }
  if (!secure) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
      throw Error(exchange.statusLine.empty() ? "HTTP status " + std::to_string(status)
                                              : exchange.statusLine);
    }
  }
  return DecodeBody(exchange.body, CharsetOf(exchange.contentType));
}

std::string TagValue(std::string_view line, std::string_view tag) {
  if (line.empty() || tag.empty()) return {};
  const std::string opening = "<" + Lower(tag) + ">";
  const std::string closing = "</" + Lower(tag) + ">";
  if (line.size() < opening.size() + closing.size()) return {};
  if (!line.starts_with(opening) || !line.ends_with(closing)) return {};
  return std::string(line.substr(opening.size(), line.size() - opening.size() - closing.size()));
}

std::vector<std::string> SplitReplyLines(std::string_view reply) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < reply.size(); ++i) {
    if (reply[i] != '\r' && reply[i] != '\n') continue;
    lines.emplace_back(reply.substr(start, i - start));
    if (reply[i] == '\r' && i + 1 < reply.size() && reply[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < reply.size()) lines.emplace_back(reply.substr(start));
  return lines;
}

}  // namespace cellverter
