// Message boxes of the running program.
#pragma once

#include "diag/Diagnostics.h"

namespace vantrel {

// Shows each message in an application-modal QMessageBox captioned with the product name:
// style 0 a plain OK box, 4 a Yes/No question, 16 the stop icon with OK.
class QtPresenter final : public MessagePresenter {
 public:
  int Present(const std::string& text, int type) override;
};

}  // namespace vantrel
