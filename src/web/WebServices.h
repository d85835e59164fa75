// What the user interface asks of the vendor's web server: the version check, feedback,
// the referral link and the web addresses of the vendor's site.
//
// CheckVersion and SendFeedback are synchronous for their caller, which must be the
// user-interface thread: the request runs on a worker thread while the caller's wait keeps
// pumping the user interface (WebCall.h). Each request is bounded by the time-outs of
// HttpRetriever.h. They write their traces to the debug log and show nothing themselves.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vantrel {

// The form scripts on the vendor's server.
inline constexpr char kCheckVersionScript[] = "/script/checkversion.php";
inline constexpr char kSendFeedbackScript[] = "/script/sendfeedback.php";
inline constexpr char kTattlerScript[] = "/script/tattler.php";

// A form body longer than this many characters is refused before anything is sent.
inline constexpr std::size_t kFormBodyLimit = 2048;
// The characters (code points) of a UTF-8 text: an emoji is one, not its four bytes.
std::size_t CharacterCount(std::string_view utf8);

// The vendor's root URL (scheme, host, a closing "/"): the build setting
// VANTREL_VENDOR_URL unless code has set another one.
std::string VendorRootUrl();
// An empty root restores the build setting. A closing "/" is added when missing.
void SetVendorRootUrl(std::string root);
// root joined with an absolute path: ("http://h/", "/a/b") gives "http://h/a/b".
std::string JoinUrl(const std::string& root, std::string_view path);
// The vendor's root joined with path.
std::string VendorUrl(std::string_view path);
// "%s?ref=%s(%s)" of a page address, a product name and a version, nothing encoded.
std::string WithReferral(const std::string& pageUrl, const std::string& name,
                         const std::string& version);

// Percent-encodes the characters of a form value that have a meaning in a form body or a
// URL ("%" first, "?" as "%3f"); every other byte goes unchanged.
std::string EncodeFormValue(std::string_view value);

// A typed text with its line breaks as the rest of a request sends them: every line feed
// not already after a carriage return gets one. The text of a multi-line edit box has
// bare line feeds here.
std::string WithCrLfLineEnds(std::string_view text);

// 0 when the server says appVersion is current, 1 when an update exists, -1 for a failure,
// a refused body or an answer without a known word.
int CheckVersion(const std::string& appName, const std::string& appVersion,
                 const std::string& notes);
// 1 when the server took the message, -1 otherwise.
int SendFeedback(const std::string& product, const std::string& productVersion,
                 const std::string& message, const std::string& notes);
// Opens the vendor's home page with the referral tag of name and version; always 1.
int Referral(const std::string& name, const std::string& version);

// Opens a web address in the user's browser. The program installs one that asks the
// desktop; an empty function restores the default, which only writes the address to the
// debug log.
using BrowserOpener = std::function<void(const std::string& url)>;
void SetBrowserOpener(BrowserOpener opener);
void OpenInBrowser(const std::string& url);

}  // namespace vantrel
