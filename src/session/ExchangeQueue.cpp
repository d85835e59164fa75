#include "session/ExchangeQueue.h"

#include <utility>

namespace vantrel {

bool ExchangeQueue::PollDue() {
  if (on_line_ != Kind::None || !writes_.empty()) {
    poll_due_ = true;
    return false;
  }
  return true;
}

bool ExchangeQueue::AddWrite(std::vector<WriteFrame> requests) {
  if (requests.empty()) return false;
  Write write;
  write.requests.assign(std::make_move_iterator(requests.begin()), std::make_move_iterator(requests.end()));
  writes_.push_back(std::move(write));
  return on_line_ == Kind::None && writes_.size() == 1;
}

WriteFrame ExchangeQueue::TakeWrite() {
  if (writes_.empty() || writes_.front().requests.empty()) return {};
  WriteFrame request = std::move(writes_.front().requests.front());
  writes_.front().requests.pop_front();
  on_line_ = Kind::Write;
  return request;
}

ExchangeQueue::Next ExchangeQueue::Ended(bool confirmed) {
  if (on_line_ == Kind::Write && !writes_.empty()) {
    Write& write = writes_.front();
    if (confirmed) {
      write.confirmed = true;
    } else {
      write.requests.clear();
    }
    if (write.requests.empty()) {
      if (write.confirmed) poll_due_ = true;
      writes_.pop_front();
    }
  }
  on_line_ = Kind::None;
  if (!writes_.empty()) return Next::Write;
  if (poll_due_) {
    poll_due_ = false;
    return Next::Poll;
  }
  return Next::Nothing;
}

int ExchangeQueue::Drop() {
  const int dropped = static_cast<int>(writes_.size()) - (on_line_ == Kind::Write && !writes_.empty() ? 1 : 0);
  writes_.clear();
  on_line_ = Kind::None;
  poll_due_ = false;
  return dropped;
}

}  // namespace vantrel
