#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cellverter {

// The maker's web server: short form posts to its scripts, https first and http only after
// the https attempt failed. Every request of the program begins with the three fields of
// OpeningFields(); a reply is text whose lines may carry tagged values (<tag>value</tag>).

// Ordered "name=value" lines; the name holds no "=", the value may be empty.
using FieldList = std::vector<std::string>;

// The update check's and the feedback window's scripts on the maker's host.
inline constexpr std::string_view kCheckPath = "/php/check2.php";
inline constexpr std::string_view kFeedbackPath = "/php/feedback.php";

// "https://" or "http://" + the maker's host + path ("/php/check2.php").
std::string MakerAddress(std::string_view scheme, std::string_view path);
// "http://" + the maker's host: the page opened when there is no better address.
std::string MakerHomePage();

// Points MakerAddress at local servers: "127.0.0.1:PORT" for each scheme, and a PEM file of
// certificates that the secure attempt trusts in addition to the system's. Tests only; an
// empty text restores the default for that item.
void SetMakerServerForTesting(std::string httpsAuthority, std::string httpAuthority,
                              std::string extraCertificateFile);

// "cmd=" + command, "appname=" + title, "version=" + version.
FieldList OpeningFields(std::string_view command, std::string_view appTitle,
                        std::string_view appVersion);

// The form body: each line split at its first "=", name and value percent-encoded from their
// UTF-8 bytes (space as "+", letters, digits, "-", "." and "_" bare), pairs joined by "&".
std::string EncodeFormBody(const FieldList& fields);

// Posts fields to url and returns the reply's text, decoded by the charset the response
// declares (UTF-8 when none). timeoutMs bounds the connection and the wait for the response.
// https: every completed response is a reply, whatever its status; up to 5 redirects.
// http: no redirects; a status outside 200-299 is a failure carrying the status line.
// Throws Error with the client's message when no reply was obtained. Thread-safe; keeps
// nothing between calls.
std::string PostRequest(const std::string& url, const FieldList& fields, long timeoutMs);

// The value of a line "<tag>value</tag>" (tag lower-cased, nothing around the tags), else "".
std::string TagValue(std::string_view line, std::string_view tag);

// The lines of a reply, split at CR LF, lone CR and lone LF; a final break adds no line.
std::vector<std::string> SplitReplyLines(std::string_view reply);

}  // namespace cellverter
