// A strict CSV reader, fed in pieces, and the quoting of a field, for the register maps.
// Built over libcsv where the platform has it, and over a reader of our own in the Windows
// build, for which no libcsv is at hand; one table of cases in the tests holds both to the
// same reading. It reads as RFC 4180 says, with the strictness a map needs: a quote inside
// a field that does not begin with one, or anything but blanks, a comma or a line end after
// a closing quote, is an error, as is a quote still open at the end. Blanks (spaces, tabs) at the ends
// of a field outside its quotes are dropped; a row with nothing on it is no row.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel {

class CsvParser {
 public:
  // Called with each field as it ends, and at each row's end with the character that ended
  // it (CR or LF; -1 at the end of the text).
  using FieldSink = std::function<void(const std::string& field)>;
  using RowSink = std::function<void(int ending)>;

  CsvParser(FieldSink onField, RowSink onRow);
  ~CsvParser();
  CsvParser(const CsvParser&) = delete;
  CsvParser& operator=(const CsvParser&) = delete;

  // Reads the next piece of the text; a field or row may go on into the next piece. Returns
  // how many characters were taken: all of them, or, at an error, the position of the
  // character that broke the rules (the parser is then not to be fed again).
  std::size_t Parse(std::string_view piece);
  // Ends the text: the field and row under way end. False when a quote is still open.
  bool Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A field as RFC 4180 writes it, in quotes, each quote in it doubled.
std::string CsvQuoted(std::string_view text);

}  // namespace vantrel
