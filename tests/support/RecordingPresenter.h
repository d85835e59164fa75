// A message box stand-in: records every text and style and answers with a chosen button.
#pragma once

#include <functional>
#include <string>
#include <utility>
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

// A box stand-in that runs a step of the test while the box is "open", as timers and
// clicks run inside a real box's own event loop.
class BoxWithEvents final : public MessagePresenter {
 public:
  explicit BoxWithEvents(std::function<void()> during) : during_(std::move(during)) {
    SetMessagePresenter(this);
  }
  ~BoxWithEvents() override { SetMessagePresenter(nullptr); }
  int Present(const std::string& text, int) override {
    texts.push_back(text);
    if (during_) during_();
    return IDOK;
  }
  std::vector<std::string> texts;

 private:
  std::function<void()> during_;
};

}  // namespace vantrel::test
