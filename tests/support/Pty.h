// A raw pseudo-terminal pair: the test plays the far end of the line on master().
#pragma once

#include <string>

namespace vantrel::test {

class Pty {
 public:
  Pty();
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int master() const { return master_; }
  const std::string& path() const { return path_; }
  void CloseMaster();

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace vantrel::test
