#include "web/Tattler.h"

#include "diag/Clock.h"
#include "web/WebCall.h"
#include "web/WebServices.h"

namespace vantrel {
namespace {

// Seconds since 1970, in full: "%d" of a 64-bit time would not be sound.
std::string Seconds() { return std::to_string(static_cast<long long>(Now())); }

Tattler g_tattler;

}  // namespace

Tattler::Tattler() { SetValue("start_time", Seconds()); }

void Tattler::SetValue(const std::string& key, const std::string& value) { values_[key] = value; }

bool Tattler::Report(const std::string& utilityName, const std::string& utilityVersion) {
  SetValue("send_time", Seconds());
  return SendUsageReport(utilityName, utilityVersion, values_) == 1;
}

Tattler& TheTattler() { return g_tattler; }

int SendUsageReport(const std::string& utilityName, const std::string& utilityVersion,
                    const UsageValues& values) {
  WaitWhileInFlight();
  BeginWebCall();
  std::string body = "utility_name=" + utilityName + "&utility_version=" + utilityVersion;
  for (const auto& [key, value] : values) body += "&" + key + "=" + value;
  if (CharacterCount(body) > kFormBodyLimit) {
    AbandonWebCall();
    return -1;
  }
  const std::string reply = RunWebCall(TattlerWorker, body);
  const bool accepted =
      reply.starts_with("STATE: PASS") && reply.find("STATE: FAILED") == std::string::npos;
  return accepted ? 1 : -1;
}

}  // namespace vantrel
