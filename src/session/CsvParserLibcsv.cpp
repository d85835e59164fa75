#include <csv.h>

#include <new>

#include "session/CsvParser.h"

namespace vantrel {

struct CsvParser::State {
  State() {
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) throw std::bad_alloc();
  }
  ~State() { csv_free(&parser); }

  static void OnField(void* data, std::size_t size, void* self) {
    static_cast<State*>(self)->on_field(std::string(static_cast<const char*>(data), size));
  }
  static void OnRow(int ending, void* self) { static_cast<State*>(self)->on_row(ending); }

  csv_parser parser;
  FieldSink on_field;
  RowSink on_row;
};

CsvParser::CsvParser(FieldSink onField, RowSink onRow) : state_(std::make_unique<State>()) {
  state_->on_field = std::move(onField);
  state_->on_row = std::move(onRow);
}

CsvParser::~CsvParser() = default;

std::size_t CsvParser::Parse(std::string_view piece) {
  return csv_parse(&state_->parser, piece.data(), piece.size(), State::OnField, State::OnRow, state_.get());
}

bool CsvParser::Finish() { return csv_fini(&state_->parser, State::OnField, State::OnRow, state_.get()) == 0; }

std::string CsvQuoted(std::string_view text) {
  std::string out(2 * text.size() + 2, '\0');
  out.resize(csv_write(out.data(), out.size(), text.data(), text.size()));
  return out;
}

}  // namespace vantrel
