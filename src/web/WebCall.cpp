#include "web/WebCall.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <system_error>

#include "diag/Diagnostics.h"
#include "web/HttpRetriever.h"
#include "web/WebServices.h"

namespace vantrel {

struct WebCallState {
  std::string root;  // the vendor's root URL, taken on the caller's thread
  std::string body;
  std::string reply;
  // Set by the worker as its last step, after reply; the caller reads reply only then.
  std::atomic<bool> finished{false};
};

namespace {

// The one-call-in-flight flag. Released by the worker after it has stored the reply, so
// that a caller that sees it clear also sees the reply.
std::atomic<bool> webCallBusy{false};

std::mutex g_replyLock;
std::string webReply;

constexpr std::chrono::milliseconds kDefaultPumpSleep{5};

PumpFunction& Pump() {
  static PumpFunction pump;
  return pump;
}

WorkerStarter& Starter() {
  static WorkerStarter starter;
  return starter;
}

bool StartThread(std::function<void()> work, std::thread& thread) {
  try {
    thread = std::thread(std::move(work));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void PostFormWorker(const WebCallPtr& call, const char* script) {
  {
    std::lock_guard<std::mutex> lock(g_replyLock);
    webReply.clear();
  }
  std::string reply;
  {
    HttpRetriever retriever;
    const std::string url = JoinUrl(call->root, script);
    const char* text = retriever.Retrieve(url.c_str(), true, call->body.data(),
                                          static_cast<long>(call->body.size()));
    if (text != nullptr) reply = text;
  }
  {
    std::lock_guard<std::mutex> lock(g_replyLock);
    webReply = reply;
  }
  call->reply = std::move(reply);
  webCallBusy.store(false, std::memory_order_release);
  call->finished.store(true, std::memory_order_release);
}

}  // namespace

void SetPumpFunction(PumpFunction pump) { Pump() = std::move(pump); }

void PumpOneMessage() {
  // A copy, so that a pump that replaces itself while it runs stays intact.
  const PumpFunction pump = Pump();
  if (pump) {
    pump();
  } else {
    std::this_thread::sleep_for(kDefaultPumpSleep);
  }
}

void SetWorkerStarter(WorkerStarter starter) { Starter() = std::move(starter); }

bool IsWebCallBusy() { return webCallBusy.load(std::memory_order_acquire); }

std::string LastWebReply() {
  std::lock_guard<std::mutex> lock(g_replyLock);
  return webReply;
}

void WaitWhileInFlight() {
  while (webCallBusy.load(std::memory_order_acquire)) PumpOneMessage();
}

void BeginWebCall() { webCallBusy.store(true, std::memory_order_release); }

void AbandonWebCall() { webCallBusy.store(false, std::memory_order_release); }

void CheckVersionWorker(WebCallPtr call) { PostFormWorker(call, kCheckVersionScript); }
void SendFeedbackWorker(WebCallPtr call) { PostFormWorker(call, kSendFeedbackScript); }
void TattlerWorker(WebCallPtr call) { PostFormWorker(call, kTattlerScript); }

std::string RunWebCall(void (*worker)(WebCallPtr), const std::string& body) {
  auto call = std::make_shared<WebCallState>();
  call->root = VendorRootUrl();
  call->body = body;
  std::thread thread;
  const WorkerStarter starter = Starter();
  const bool started = starter ? starter([worker, call] { worker(call); }, thread)
                               : StartThread([worker, call] { worker(call); }, thread);
  if (!started) {
    webCallBusy.store(false, std::memory_order_release);
    WriteDebugLog("Err. Web call not made: no worker thread could be started");
    return {};
  }
  PumpOneMessage();
  while (!call->finished.load(std::memory_order_acquire)) PumpOneMessage();
  // The worker has nothing left to do but return.
  if (thread.joinable()) thread.join();
  return call->reply;
}

}  // namespace vantrel
