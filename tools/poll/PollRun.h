// vantrel-poll's reads and writes over the line session that the desktop program drives too:
// a loop waits with poll(2) on what the session watches until it next needs the time, and
// the session's reports are printed in the form the options ask for.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "PollOptions.h"
#include "session/LineSession.h"

namespace vantrel {
class Line;
struct ResponseTable;
}  // namespace vantrel

namespace vantrel::poll {

// A definition that the run polls: its name, and the options it is polled and printed with
// (the run's own, with its request, view options and period: 0 polls it once).
struct PollTarget {
  std::string name;
  PollConfig cfg;
  FailurePolicy policy = FailurePolicy::StopAndExplain;
  // Printed so far: its polls, and the header of its timed CSV.
  int polls = 0;
  std::string csvHeader;
};

// What the run prints. Named (--workspace), every output names its definition: a heading
// over a table, a first CSV column "poll", a "poll" member in a JSON object; unnamed, the
// output is the one-request poller's.
class PollOutput {
 public:
  PollOutput(const PollConfig& options, bool named) : options_(options), named_(named) {}
  // The connection as the messages name it, once it is known.
  void SetConnection(const std::string& connection) { connection_ = connection; }
  const std::string& connection() const { return connection_; }

  // A poll of the target goes out (counted): "-- Poll n" before it when polling unnamed at a
  // period into a table.
  void Attempt(PollTarget& target);
  // The values of a good poll, its reply arrived then.
  void Values(PollTarget& target, const ResponseTable& table, std::chrono::system_clock::time_point arrived);
  // The values of a good cycle by map: its table (MakeMapTable) as Values prints a table,
  // or with --json the values by item name.
  void MapValues(PollTarget& target, const MapReading& reading, std::chrono::system_clock::time_point arrived);
  // A request of any function (--raw, --diag, ...): its PDU, which the JSON of a failure names.
  void SetPdu(const std::vector<std::uint8_t>& pdu) { pdu_ = pdu; }
  const std::vector<std::uint8_t>& pdu() const { return pdu_; }
  // The reply to it, whole: the reply PDU in hex, its fields (DecodeReplyPdu) and the response
  // time, or with --json its object; with a status other than 0 (an exception, a reply that
  // does not answer the request) text explains it on standard error too.
  void PduReply(const std::vector<std::uint8_t>& request, const PduOutcome& outcome, int status,
                const std::string& text);
  // It went to slave id 0: every device takes it, none answers.
  void Broadcast(const std::vector<std::uint8_t>& request);
  // A failure: the explanation on standard error, and with --json its object on standard
  // output, with the target's request (none: the line's, or unnamed the command line's).
  // Returns status.
  int Failure(const PollTarget* target, int status, const std::string& text);

 private:
  const PollConfig& options_;
  bool named_;
  std::string connection_;
  std::vector<std::uint8_t> pdu_;
};

// One run of reads or of a write over a line. Made before the line is opened (the session
// takes the connection of the options first, which closes the link), driven after.
class PollRun final : public LineObserver {
 public:
  PollRun(Line& line, PollOutput& out, const PollConfig& options);

  // Polls the targets on the open line in their order, each once, or at its period until a
  // failure of one whose policy stops, or the line is lost. The exit status: a stopping
  // failure's; once, else the first failure of one whose policy keeps polling; else 0.
  int Read(std::vector<PollTarget> targets);
  // Writes the requests one after the other, each confirmed one printed; the exit status.
  int Write(const std::vector<WriteFrame>& requests);
  // Sends the request PDU of any function to the options' slave id and prints its reply,
  // or that it was broadcast; the exit status.
  int Send(const std::vector<std::uint8_t>& pdu);
  // Writes the items of the options' map by name (--write), each with its own requests, in
  // the order given; the registers of bit items are read first, in one cycle by map. Each
  // confirmed request is printed with its item.
  int WriteMap();

 private:
  void OnLog(int, const std::string&) override {}
  void OnPollAttempt(int poll) override;
  void OnReply(int poll, const ModbusMaster& master) override;
  void OnMapValues(int poll, const MapReading& reading) override;
  void OnPollFailed(int poll, const LineFailure& failure) override;
  void OnWriteConfirmed(int poll, const WriteFrame& write) override;
  void OnWriteFailed(int poll, const WriteFrame& write, const LineFailure& failure) override;
  void OnPduDone(const PduOutcome& outcome) override;
  void OnLineLost() override;
  void OnConnectFailed(const std::string& text) override;

  // The target failed with the status: the run ends when its policy stops.
  void Failed(int poll, int status, const std::string& text);
  // The target's poll is over; once, the run ends when every target's is.
  void Done();
  // The run ends with the status; nothing more goes on the line.
  void Finish(int status);
  // The session's failure as the exit status and text of the poller.
  int Explain(const LineFailure& failure, bool write, std::string& text) const;
  // Drives the session until the run ends.
  void Drive();
  // Frames the map writes over the registers that bit items change, and sends them.
  void SendMapWrites(std::map<int, std::uint16_t> registers);

  Line& line_;
  PollOutput& out_;
  const PollConfig& options_;
  LineSession session_;
  std::vector<PollTarget> targets_;
  int current_ = -1;  // the target whose poll went out last
  int remaining_ = 0;  // once: targets not yet polled
  int keptStatus_ = 0;  // the first failure of a target whose policy keeps polling
  std::size_t writes_ = 0;  // requests of the write not yet confirmed
  // Writing by map: the registers of bit items are being read first; then what each
  // request wrote, as printed when it is confirmed.
  bool readingBits_ = false;
  std::vector<std::string> wrote_;
  std::size_t confirmed_ = 0;
  bool done_ = false;
  int status_ = kExitOk;
};

}  // namespace vantrel::poll
