#include "session/CsvParser.h"

namespace vantrel {
namespace {

constexpr char kQuote = '"';
constexpr char kComma = ',';

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

void CsvParser::EndField() {
  if (!quoted_) field_.resize(field_.size() - blanks_);
  on_field_(field_);
  state_ = State::FieldNotBegun;
  field_.clear();
  quoted_ = false;
  blanks_ = 0;
}

void CsvParser::EndRow(int ending) {
  on_row_(ending);
  state_ = State::RowNotBegun;
  field_.clear();
  quoted_ = false;
  blanks_ = 0;
}

std::size_t CsvParser::Parse(std::string_view piece) {
  for (std::size_t at = 0; at < piece.size(); ++at) {
    const char c = piece[at];
    switch (state_) {
      case State::RowNotBegun:
      case State::FieldNotBegun:
        if (IsBlank(c)) break;  // blanks before a field are not of it
        if (IsLineEnd(c)) {
          // A line end where no row has begun (the LF of CR LF, a blank line) ends nothing.
          if (state_ == State::FieldNotBegun) {
            EndField();
            EndRow(static_cast<unsigned char>(c));
          }
          break;
        }
        if (c == kComma) {
          EndField();
        } else if (c == kQuote) {
          state_ = State::FieldBegun;
          quoted_ = true;
        } else {
          state_ = State::FieldBegun;
          quoted_ = false;
          field_ += c;
        }
        break;
      case State::FieldBegun:
        if (c == kQuote) {
          if (!quoted_) return at;  // a quote inside a field that began without one
          field_ += c;  // kept until the next character tells whether it closes the field
          state_ = State::FieldMightHaveEnded;
        } else if (c == kComma && !quoted_) {
          EndField();
        } else if (IsLineEnd(c) && !quoted_) {
          EndField();
          EndRow(static_cast<unsigned char>(c));
        } else {
          field_ += c;
          blanks_ = !quoted_ && IsBlank(c) ? blanks_ + 1 : 0;
        }
        break;
      case State::FieldMightHaveEnded:
        // The field's last quote was a closing one, unless a second follows at once.
        if (c == kComma || IsLineEnd(c)) {
          field_.resize(field_.size() - blanks_ - 1);
          EndField();
          if (IsLineEnd(c)) EndRow(static_cast<unsigned char>(c));
        } else if (IsBlank(c)) {
          field_ += c;
          ++blanks_;
        } else if (c == kQuote && blanks_ == 0) {
          state_ = State::FieldBegun;  // a doubled quote: one is kept
        } else {
          return at;  // text after the closing quote
        }
        break;
    }
  }
  return piece.size();
}

bool CsvParser::Finish() {
  if (state_ == State::FieldBegun && quoted_) return false;
  switch (state_) {
    case State::FieldMightHaveEnded:
      field_.resize(field_.size() - blanks_ - 1);
      blanks_ = 0;
      [[fallthrough]];
    case State::FieldNotBegun:
    case State::FieldBegun:
      EndField();
      EndRow(-1);
      break;
    case State::RowNotBegun:
      break;
  }
  return true;
}

std::string CsvQuoted(std::string_view text) {
  std::string out(1, kQuote);
  for (const char c : text) {
    if (c == kQuote) out += kQuote;
    out += c;
  }
  out += kQuote;
  return out;
}

}  // namespace vantrel
