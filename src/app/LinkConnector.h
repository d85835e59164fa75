// Opens the master's link as the connection settings ask: the serial port (by number or by
// device path, with RS-485 mode when asked for) at once, a TCP connection without blocking
// the window. A connect that has not finished within the reply time-out fails.
#pragma once

#include <QObject>

#include <functional>
#include <string>

class QSocketNotifier;
class QTimer;

namespace vantrel {

class Line;
class ScannerSettings;

// The connection as the summary button and the log name it: in RTU the serial texts as they
// always were ("COM 3:9600,N,8,1", or the device path in place of "COM 3"), in ASCII the same
// after "ASCII " ("ASCII COM 4:19200,E,7,1"), "TCP 192.168.1.20:502" and "RTU over TCP ..."
// for the network modes.
std::string ConnectionSummary(const ScannerSettings& settings);
// Whether the settings' mode is a network one.
bool IsNetworkConnection(const ScannerSettings& settings);

class LinkConnector : public QObject {
  Q_OBJECT

 public:
  LinkConnector(const ScannerSettings& settings, Line& line, QObject* parent = nullptr);

  enum class Result { Open, Pending, Failed };
  // Closes whatever is open or under way, then opens the link of the settings' mode. Pending:
  // a TCP connect is under way, and finished reports how it ended.
  Result Open();
  bool Connecting() const { return watch_ != nullptr; }
  // Gives up a connect under way (finished is not called).
  void Cancel();
  // Why the last Open or connect failed, in the box's words.
  const std::string& failure() const { return failure_; }
  // A warning of the last Open that succeeded (RS-485 refused by the driver), else "".
  const std::string& warning() const { return warning_; }

  // A connect under way ended: connected, or failed (failure() says why).
  std::function<void(bool connected)> finished;

 private:
  void Finish();
  void Give(bool connected);

  const ScannerSettings& settings_;
  Line& line_;
  QSocketNotifier* watch_ = nullptr;
  QTimer* deadline_ = nullptr;
  std::string failure_;
  std::string warning_;
};

}  // namespace vantrel
