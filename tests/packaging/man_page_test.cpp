// The manual pages that the build makes from the programs' --help and --version: every
// option that --help lists is on its program's page, with the sections a page needs.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "HelpOptions.h"
#include "Version.h"
#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::HelpOptions;
using vantrel::test::ReadFile;
using vantrel::test::Run;

namespace {

std::string Binary(const std::string& program) { return std::string(VANTREL_BIN_DIR) + "/" + program; }

// The page's roff source with the escapes that options and words carry undone: "\-" is
// "-", and font changes go.
std::string PageText(const std::string& program) {
  std::string page = ReadFile(std::string(VANTREL_MAN_DIR) + "/" + program + ".1");
  page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
  return std::regex_replace(page, std::regex(R"(\\f(\(..|.)|\\[/,&])"), "");
}

// The word stands alone in the text: "-1" is not found in "-10" nor "--json" in "--jsonl".
bool HasWord(const std::string& text, const std::string& word) {
  auto part = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; };
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const std::size_t end = at + word.size();
    if ((at == 0 || !part(text[at - 1])) && (end == text.size() || !part(text[end]))) return true;
  }
  return false;
}

// The exit statuses of --help's "Exit status:" paragraph: its lines that start with a number.
std::vector<std::string> HelpExitStatuses(const std::string& program) {
  std::istringstream help(Run({program, "--help"}).out);
  std::vector<std::string> statuses;
  bool in = false;
  const std::regex status(R"(^ {1,4}(\d+)  .*)");
  std::smatch m;
  for (std::string line; std::getline(help, line);) {
    if (line == "Exit status:") in = true;
    else if (in && !line.empty() && line[0] != ' ') in = false;
    else if (in && std::regex_match(line, m, status)) statuses.push_back(m[1]);
  }
  return statuses;
}

}  // namespace

TEST(man_page, every_option_of_help_and_every_section) {
  const struct {
    const char* program;
    std::vector<const char*> sections;
    std::size_t leastOptions;  // so that a --help the parser misreads cannot pass empty
  } cases[] = {
      {"vantrel-poll", {"NAME", "SYNOPSIS", "OPTIONS", "\"EXIT STATUS\"", "FILES", "EXAMPLES", "\"SEE ALSO\""}, 20},
      {"vantrel-slave", {"NAME", "SYNOPSIS", "OPTIONS", "\"EXIT STATUS\"", "FILES", "EXAMPLES", "\"SEE ALSO\""}, 20},
      {"vantrel-modbus-scanner", {"NAME", "SYNOPSIS", "OPTIONS", "FILES", "EXAMPLES", "\"SEE ALSO\""}, 4},
  };
  for (const auto& c : cases) {
    const std::string page = PageText(c.program);
    ASSERT_FALSE(page.empty()) << c.program << ": no page in " << VANTREL_MAN_DIR;
    const auto options = HelpOptions(Binary(c.program));
    EXPECT_GE(options.size(), c.leastOptions) << c.program;
    for (const std::string& option : options) {
      EXPECT_TRUE(HasWord(page, option)) << c.program << "'s page lacks " << option;
    }
    for (const char* section : c.sections) {
      EXPECT_NE(page.find(std::string("\n.SH ") + section + "\n"), std::string::npos) << c.program << ": " << section;
    }
    // the page is of this version, and names the program's purpose
    EXPECT_NE(page.find(std::string("\"") + c.program + " " + vantrel::kProjectVersion + "\""), std::string::npos)
        << c.program;
    EXPECT_NE(page.find(std::string(".SH NAME\n") + c.program + " - "), std::string::npos) << c.program;
  }
}

// The poller's statuses, as --help lists them, are the page's EXIT STATUS section.
TEST(man_page, the_exit_statuses_of_help_are_their_own_section) {
  const std::string page = PageText("vantrel-poll");
  const std::size_t section = page.find("\n.SH \"EXIT STATUS\"\n");
  ASSERT_NE(section, std::string::npos);
  const std::string text = page.substr(section, page.find("\n.SH ", section + 1) - section);
  const auto statuses = HelpExitStatuses(Binary("vantrel-poll"));
  EXPECT_EQ(statuses.size(), 17u);
  for (const std::string& status : statuses) {
    EXPECT_NE(text.find("\n.TP\n" + status + "\n"), std::string::npos) << "status " << status << " in\n" << text;
  }
}

TEST(man_page, every_program_answers_version) {
  for (const char* program : {"vantrel-poll", "vantrel-slave", "vantrel-modbus-scanner"}) {
    const auto r = vantrel::test::Run({Binary(program), "--version"});
    EXPECT_EQ(r.status, 0) << program;
    EXPECT_EQ(r.out, std::string(program) + " " + vantrel::kProjectVersion + "\n");
  }
}
