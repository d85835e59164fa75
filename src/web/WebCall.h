// The web-call mechanism: each call posts one form body on a worker thread of its own while
// the calling (user-interface) thread waits, keeping the windows alive through the pump
// function. One call is in flight at a time: a call started while another is in flight,
// for example from a click handled during the wait, first waits for that one to finish.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace vantrel {

// One step of the caller's wait. It should block for a few milliseconds at most while
// there is nothing to do, so that the wait does not spin a core: the program's pump
// handles the pending window events, waiting at most a few milliseconds for one.
using PumpFunction = std::function<void()>;
// An empty function restores the default, which sleeps a few milliseconds.
void SetPumpFunction(PumpFunction pump);
void PumpOneMessage();

// Starts the thread of one web call in thread; false when no thread could be started.
using WorkerStarter = std::function<bool(std::function<void()> work, std::thread& thread)>;
// An empty function restores the default, a std::thread.
void SetWorkerStarter(WorkerStarter starter);

// Whether a web call is in flight (any thread may ask).
bool IsWebCallBusy();
// The reply text of the last web call that has finished ("" before the first).
std::string LastWebReply();

// Repeats PumpOneMessage while a web call is in flight.
void WaitWhileInFlight();
// Marks a call as in flight; the caller has waited for the previous one first.
void BeginWebCall();
// Ends a call that was refused before its worker was started.
void AbandonWebCall();

// One call, shared by the caller and its worker.
struct WebCallState;
using WebCallPtr = std::shared_ptr<WebCallState>;

// The worker threads, one per form script; they differ only in the script they post to.
void CheckVersionWorker(WebCallPtr call);
void SendFeedbackWorker(WebCallPtr call);
void TattlerWorker(WebCallPtr call);

// After BeginWebCall: starts worker with body, pumps once, then waits until that worker
// has finished, and returns the reply of this very call ("" when the request failed or no
// worker could be started). The call is no longer in flight when this returns.
std::string RunWebCall(void (*worker)(WebCallPtr), const std::string& body);

}  // namespace vantrel
