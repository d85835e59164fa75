// A message box stand-in: records every text and style and answers with a chosen button.
#pragma once

#include <string>
#include <vector>

#include "diag/Diagnostics.h"

namespace vantrel::test {

class RecordingPresenter final : public MessagePresenter {
 public:
  struct Box {
    std::string text;
    int type;
  };
  explicit RecordingPresenter(int answer = IDOK) : answer_(answer) { SetMessagePresenter(this); }
  ~RecordingPresenter() override { SetMessagePresenter(nullptr); }

  int Present(const std::string& text, int type) override {
    boxes.push_back({text, type});
    return answer_;
  }

  std::vector<Box> boxes;

 private:
  int answer_;
};

}  // namespace vantrel::test
