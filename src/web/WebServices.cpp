#include "web/WebServices.h"

#include <array>
#include <utility>

#include "diag/Diagnostics.h"
#include "web/WebCall.h"

#ifndef VANTREL_VENDOR_URL
#define VANTREL_VENDOR_URL "http://www.vantrel.example/"
#endif

namespace vantrel {
namespace {

// Only the user-interface thread reads or sets the root; a call hands its worker a copy.
std::string& RootOverride() {
  static std::string root;
  return root;
}

std::string WithClosingSlash(std::string root) {
  if (root.empty() || root.back() != '/') root += '/';
  return root;
}

BrowserOpener& Opener() {
  static BrowserOpener opener;
  return opener;
}

// Applied as whole-value replacements in this order; since "%" comes first, no later
// replacement is encoded again, so one pass over the value gives the same result.
constexpr std::array<std::pair<char, const char*>, 25> kFormEncoding = {{
    {'%', "%25"}, {'$', "%24"}, {'&', "%26"}, {'+', "%2B"}, {',', "%2C"},
    {'/', "%2F"}, {':', "%3A"}, {';', "%3B"}, {'=', "%3D"}, {'?', "%3f"},
    {'@', "%40"}, {' ', "%20"}, {'"', "%22"}, {'<', "%3C"}, {'>', "%3E"},
    {'#', "%23"}, {'{', "%7B"}, {'}', "%7D"}, {'|', "%7C"}, {'\\', "%5C"},
    {'^', "%5E"}, {'~', "%7E"}, {'[', "%5B"}, {']', "%5D"}, {'`', "%60"},
}};

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

}  // namespace

std::string VendorRootUrl() {
  const std::string& root = RootOverride();
  return root.empty() ? WithClosingSlash(VANTREL_VENDOR_URL) : root;
}

void SetVendorRootUrl(std::string root) {
  RootOverride() = root.empty() ? std::string() : WithClosingSlash(std::move(root));
}

std::string JoinUrl(const std::string& root, std::string_view path) {
  std::string url = WithClosingSlash(root);
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  url += path;
  return url;
}

std::string VendorUrl(std::string_view path) { return JoinUrl(VendorRootUrl(), path); }

std::string WithReferral(const std::string& pageUrl, const std::string& name,
                         const std::string& version) {
  return pageUrl + "?ref=" + name + "(" + version + ")";
}

std::string EncodeFormValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    const char* replacement = nullptr;
    for (const auto& [from, to] : kFormEncoding) {
      if (c == from) {
        replacement = to;
        break;
      }
    }
    if (replacement != nullptr) {
      out += replacement;
    } else {
      out += c;
    }
  }
  return out;
}

std::string WithCrLfLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

std::size_t CharacterCount(std::string_view utf8) {
  std::size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;  // not a continuation byte
  return n;
}

int CheckVersion(const std::string& appName, const std::string& appVersion,
                 const std::string& notes) {
  WaitWhileInFlight();
  const std::string encodedNotes = EncodeFormValue(notes);
  BeginWebCall();
  const std::string body = "app_name=" + appName + "&app_ver=" + appVersion + "&Notes=" + encodedNotes;
  if (CharacterCount(body) > kFormBodyLimit) {
    AbandonWebCall();
    return -1;
  }
  WriteDebugLog("FYI. CheckVersion %s", body.c_str());
  const std::string reply = RunWebCall(CheckVersionWorker, body);

  if (Contains(reply, "PASS") || Contains(reply, "Pass")) {
    WriteDebugLog("FYI. CheckVersion [%s] PASS", body.c_str());
    return 0;
  }
  if (Contains(reply, "UPDATE") || Contains(reply, "Update")) {
    WriteDebugLog("FYI. CheckVersion [%s] UPDATE", body.c_str());
    return 1;
  }
  if (Contains(reply, "FAIL") || Contains(reply, "Fail")) {
    WriteDebugLog("FYI. CheckVersion [%s] FAIL", body.c_str());
    return -1;
  }
  WriteDebugLog("Err. CheckVersion [%s] Unknown error", body.c_str());
  return -1;
}

int SendFeedback(const std::string& product, const std::string& productVersion,
                 const std::string& message, const std::string& notes) {
  WaitWhileInFlight();
  BeginWebCall();
  const std::string body = "Product=" + product + "&ProductV=" + productVersion +
                           "&Msg=" + EncodeFormValue(message) + "&Notes=" + EncodeFormValue(notes);
  if (CharacterCount(body) > kFormBodyLimit) {
    AbandonWebCall();
    return -1;
  }
  const std::string reply = RunWebCall(SendFeedbackWorker, body);
  if (Contains(reply, "PASS") || Contains(reply, "Pass")) {
    WriteDebugLog("FYI. SendFeedback [%s] Feedback Sent", body.c_str());
    return 1;
  }
  WriteDebugLog("Err. SendFeedback [%s] unknow error", body.c_str());
  return -1;
}

int Referral(const std::string& name, const std::string& version) {
  WriteDebugLog("FYI. Referral csName=[%s] csVersion=[%s]", name.c_str(), version.c_str());
  OpenInBrowser(WithReferral(VendorRootUrl(), name, version));
  return 1;
}

void SetBrowserOpener(BrowserOpener opener) { Opener() = std::move(opener); }

void OpenInBrowser(const std::string& url) {
  const BrowserOpener opener = Opener();
  if (opener) {
    opener(url);
  } else {
    WriteDebugLog("FYI. OpenInBrowser [%s]: no browser to open it", url.c_str());
  }
}

}  // namespace vantrel
