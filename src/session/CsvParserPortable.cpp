#include "session/CsvParser.h"

namespace vantrel {
namespace {

constexpr char kQuote = '"';
constexpr char kComma = ',';

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

struct CsvParser::State {
  enum class Where { RowNotBegun, FieldNotBegun, FieldBegun, FieldMightHaveEnded };
  std::size_t Parse(std::string_view piece);
  bool Finish();
  void EndField();
  void EndRow(int ending);

  FieldSink on_field_;
  RowSink on_row_;
  Where where_ = Where::RowNotBegun;
  std::string field_;
  bool quoted_ = false;
  std::size_t blanks_ = 0;  // at the end of field_, to drop should the field end there
};

CsvParser::CsvParser(FieldSink onField, RowSink onRow) : state_(std::make_unique<State>()) {
  state_->on_field_ = std::move(onField);
  state_->on_row_ = std::move(onRow);
}

CsvParser::~CsvParser() = default;

std::size_t CsvParser::Parse(std::string_view piece) { return state_->Parse(piece); }

bool CsvParser::Finish() { return state_->Finish(); }

void CsvParser::State::EndField() {
  if (!quoted_) field_.resize(field_.size() - blanks_);
  on_field_(field_);
  where_ = Where::FieldNotBegun;
  field_.clear();
  quoted_ = false;
  blanks_ = 0;
}

void CsvParser::State::EndRow(int ending) {
  on_row_(ending);
  where_ = Where::RowNotBegun;
  field_.clear();
  quoted_ = false;
  blanks_ = 0;
}

std::size_t CsvParser::State::Parse(std::string_view piece) {
  for (std::size_t at = 0; at < piece.size(); ++at) {
    const char c = piece[at];
    switch (where_) {
      case Where::RowNotBegun:
      case Where::FieldNotBegun:
        if (IsBlank(c)) break;  // blanks before a field are not of it
        if (IsLineEnd(c)) {
          // A line end where no row has begun (the LF of CR LF, a blank line) ends nothing.
          if (where_ == Where::FieldNotBegun) {
            EndField();
            EndRow(static_cast<unsigned char>(c));
          }
          break;
        }
        if (c == kComma) {
          EndField();
        } else if (c == kQuote) {
          where_ = Where::FieldBegun;
          quoted_ = true;
        } else {
          where_ = Where::FieldBegun;
          quoted_ = false;
          field_ += c;
        }
        break;
      case Where::FieldBegun:
        if (c == kQuote) {
          if (!quoted_) return at;  // a quote inside a field that began without one
          field_ += c;  // kept until the next character tells whether it closes the field
          where_ = Where::FieldMightHaveEnded;
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
      case Where::FieldMightHaveEnded:
        // The field's last quote was a closing one, unless a second follows at once.
        if (c == kComma || IsLineEnd(c)) {
          field_.resize(field_.size() - blanks_ - 1);
          EndField();
          if (IsLineEnd(c)) EndRow(static_cast<unsigned char>(c));
        } else if (IsBlank(c)) {
          field_ += c;
          ++blanks_;
        } else if (c == kQuote && blanks_ == 0) {
          where_ = Where::FieldBegun;  // a doubled quote: one is kept
        } else {
          return at;  // text after the closing quote
        }
        break;
    }
  }
  return piece.size();
}

bool CsvParser::State::Finish() {
  if (where_ == Where::FieldBegun && quoted_) return false;
  switch (where_) {
    case Where::FieldMightHaveEnded:
      field_.resize(field_.size() - blanks_ - 1);
      blanks_ = 0;
      [[fallthrough]];
    case Where::FieldNotBegun:
    case Where::FieldBegun:
      EndField();
      EndRow(-1);
      break;
    case Where::RowNotBegun:
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
