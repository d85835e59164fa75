#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "settings/IniDocument.h"
#include "test_folder.h"

namespace vantrel {
namespace {

using Names = std::vector<std::string>;

// A document read from text, in its own temporary folder; standard output is kept.
struct Read {
  explicit Read(const std::string& text) {
    folder.Write("t.ini", text);
    ::testing::internal::CaptureStdout();
    ok = doc.Load();
    out = ::testing::internal::GetCapturedStdout();
  }
  std::string Get(const std::string& section, const std::string& key) const {
    return doc.GetString(section, key, "<missing>");
  }
  std::string Saved() {
    EXPECT_TRUE(doc.Save());
    return folder.Read("t.ini");
  }
  testing::TempFolder folder;
  IniDocument doc{folder.File("t.ini")};
  bool ok = false;
  std::string out;
};

TEST(ini_document, line_syntax_takes_keys_and_values_as_they_stand) {
  struct Case {
    std::string file, section, key, value;
  } cases[] = {
      {"[s]\nkey = value\n", "s", "key", "<missing>"},
      {"[s]\nkey = value\n", "s", "key ", " value"},
      {"[s]\nk=1 ; not a comment\n", "s", "k", "1 ; not a comment"},
      {"[s]\nq=\"quoted\"\n", "s", "q", "\"quoted\""},
      {"[s]\nk=\n", "s", "k", ""},
      {"[s]\n=v\n", "s", "", "v"},
      {"[s]\nab;c=1\n", "s", "ab", "<missing>"},
      {"k=v\n[s]\n", "", "k", "v"},
      {"[s]\nk=last", "s", "k", "last"},
      {"[s]\r\nk=v\r\n", "s", "k", "v"},
      {"[s]\nk=1\r\r\n", "s", "k", "1"},  // text-mode CR LF, then the reader's own CR
      {"[s]\nk=1\r\r\r\n", "s", "k", "1\r"},
      {"[s]\nk=x\ry\n", "s", "k", "x\ry"},
      {"[s]\nk=4\r", "s", "k", "4"},
      {"[s]\nk=5\r\r", "s", "k", "5\r"},  // no line feed: only the reader's own CR goes
      {std::string("[s]\nk=\t\x01\xFF\0z\n", 12), "s", "k", std::string("\t\x01\xFF\0z", 5)},
      {"[Main]\nCom_Port=7\n", "MAIN", "com_port", "7"},
      {"[\xC9]\nk=1\n", "\xE9", "k", "<missing>"},  // no folding beyond A-Z
      {"[s]\nKey=1\nKEY=2\n", "s", "key", "2"},
  };
  for (const Case& c : cases) {
    Read r(c.file);
    EXPECT_TRUE(r.ok) << c.file;
    EXPECT_EQ(r.Get(c.section, c.key), c.value) << c.file;
  }
}

TEST(ini_document, section_name_runs_from_the_first_bracket_to_the_last) {
  Read r("[a]b] tail\n[]\n[open\n]x[\nk[x]=2\n");
  EXPECT_EQ(r.doc.section_names, (Names{"a]b", "", "x"}));
  EXPECT_TRUE(r.doc.sections[2].keys.empty());
}

TEST(ini_document, repeated_section_headers_merge_into_the_first) {
  Read r("[a]\nx=1\n[b]\ny=2\n[A]\n;note\nX=3\nz=4\n");
  EXPECT_EQ(r.doc.section_names, (Names{"a", "b", "A"}));
  EXPECT_EQ(r.Saved(), "[a]\n;note\nx=3\nz=4\n\n[b]\ny=2\n\n[A]\n\n");
}

TEST(ini_document, read_and_write_give_the_normal_form) {
  struct Case {
    std::string file;
    bool ok;
    std::string saved;
  } cases[] = {
      {"#top\r\n[one]\r\na=1\r\njunk line\r\n   \r\n# after, kept blank\r\n\r\n[two]\nb = 2\n",
       true, ";top\n\n[one]\n; after, kept blank\na=1\n\n[two]\nb = 2\n\n"},
      {"ab;c=1\n[s]\n", true, ";c=1\n\n[s]\n\n"},
      {"k=v\n", true, "[]\nk=v\n\n"},
      {";one\n#two\n", false, ";one\n;two\n\n"},
      {"", false, ""},
  };
  for (Case& c : cases) {
    Read r(c.file);
    EXPECT_EQ(r.ok, c.ok) << c.file;
    const std::string saved = r.Saved();
    EXPECT_EQ(saved, c.saved) << c.file;
    Read again(saved);
    EXPECT_EQ(testing::Describe(again.doc), testing::Describe(r.doc));
  }
}

TEST(ini_document, a_file_without_line_feeds_ends_its_lines_at_carriage_returns) {
  const struct {
    std::string file;
    bool ok;
    std::string read, out;
  } cases[] = {
      {"[s]\rk=v\rj=2\r", true, "[s]\n  [k]=[v]\n  [j]=[2]\n", ""},
      {";top\r\r[s]\r\r;c\r=\rk=last", true, ";[top]\n[s]\n  ;[c]\n  []=[]\n  [k]=[last]\n", ""},
      {"[s]\rk=1\r\tj=2\r", false, "[s]\n  [k]=[1]\n", "Failing on char 9\n"},
      {"\r\r", false, "", ""},
      // One line feed anywhere and the file reads as it always did.
      {"[s]\rk=v\n", true, "[s]\n", ""},
      {"[s]\nk=x\ry\r", true, "[s]\n  [k]=[x\ry]\n", ""},
  };
  for (const auto& c : cases) {
    Read r(c.file);
    EXPECT_EQ(r.ok, c.ok) << c.file;
    EXPECT_EQ(testing::Describe(r.doc), c.read) << c.file;
    EXPECT_EQ(r.out, c.out) << c.file;
  }
}

TEST(ini_document, non_printable_first_character_fails_the_read) {
  const std::pair<std::string, const char*> cases[] = {
      {"\t", "Failing on char 9\n"},      {"\x01", "Failing on char 1\n"},
      {"\r", "Failing on char 13\n"},     {"\x7F", "Failing on char 127\n"},
      {"\x80", "Failing on char -128\n"}, {std::string(1, '\0'), "Failing on char 0\n"},
  };
  for (const auto& [bad, message] : cases) {
    Read r("[s]\nk=1\n" + bad + "after=2\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, message);
    EXPECT_EQ(r.Get("s", "k"), "1");  // what came before stays
    EXPECT_EQ(r.Get("s", "after"), "<missing>");
  }
  Read bom("\xEF\xBB\xBF[s]\nk=1\n");
  EXPECT_FALSE(bom.ok);
  EXPECT_EQ(bom.out, "Failing on char -17\n");
}

TEST(ini_document, missing_or_unreadable_file_leaves_the_document_unchanged) {
  testing::TempFolder folder;
  std::filesystem::create_directory(folder.File("dir.ini"));
  for (const char* name : {"absent.ini", "dir.ini"}) {
    IniDocument doc(folder.File(name));
    doc.SetString("s", "k", "v");
    EXPECT_FALSE(doc.Load());
    EXPECT_EQ(testing::Describe(doc), "[s]\n  [k]=[v]\n");
  }
}

TEST(ini_document, operations_find_the_first_match_and_create_only_when_asked) {
  IniDocument doc("unused");
  EXPECT_EQ(doc.FindEntry(0, "k"), -1);
  EXPECT_FALSE(doc.SetString("s", "k", "v", false));
  EXPECT_FALSE(doc.AddSectionComment("s", "c"));
  EXPECT_EQ(doc.AddSection("s"), 0);
  EXPECT_EQ(doc.AddSection("S"), 1);
  EXPECT_FALSE(doc.SetInt("s", "k", 1, false));
  EXPECT_TRUE(doc.SetBool("S", "K", true));
  EXPECT_TRUE(doc.SetString("s", "k", "2", false));  // replaces, keeping the first form
  EXPECT_TRUE(doc.AddSectionComment("S", "by name"));
  EXPECT_TRUE(doc.AddSectionComment(1, "by position"));
  EXPECT_FALSE(doc.AddSectionComment(2, "c"));
  EXPECT_FALSE(doc.AddSectionComment(-1, "c"));
  EXPECT_EQ(doc.FindEntry(1, "k"), -1);
  EXPECT_EQ(doc.FindEntry(2, "k"), -1);
  EXPECT_EQ(doc.FindEntry(-1, "k"), -1);
  EXPECT_EQ(testing::Describe(doc), "[s]\n  ;[by name]\n  [K]=[2]\n[S]\n  ;[by position]\n");
}

TEST(ini_document, case_folding_lowers_only_a_to_z) {
  IniDocument doc("unused");
  EXPECT_EQ(doc.FoldCase("@AZ[`az{\xC9\xE9"), "@az[`az{\xC9\xE9");
  doc.fold_case = false;
  EXPECT_EQ(doc.FoldCase("AbC"), "AbC");
  doc.SetString("S", "K", "1");
  EXPECT_EQ(doc.GetString("s", "K", "none"), "none");
  EXPECT_EQ(doc.GetString("S", "k", "none"), "none");
}

TEST(ini_document, numbers_follow_the_atoi_rule_and_saturate) {
  // clang-format off
  const std::pair<std::string, int> cases[] = {
      {"42abc", 42}, {"abc", 0}, {"  \t17", 17}, {"-8", -8}, {"+9", 9}, {"- 5", 0}, {"", 0},
      {"0x1F", 0}, {"12 34", 12}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN}, {std::string(400, '9'), INT_MAX},
      {"-" + std::string(400, '9'), INT_MIN}, {std::string(400, '0') + "7", 7},
  };
  // clang-format on
  for (const auto& [text, number] : cases) {
    IniDocument doc("unused");
    doc.SetString("n", "k", text);
    EXPECT_EQ(doc.GetInt("n", "k", 99), number) << text;
    EXPECT_EQ(doc.GetBool("n", "k", number == 0), number != 0) << text;
  }
  IniDocument doc("unused");
  EXPECT_EQ(doc.GetInt("n", "missing", INT_MIN), INT_MIN);
  EXPECT_TRUE(doc.GetBool("n", "missing", true));
  doc.SetInt("n", "min", INT_MIN);
  doc.SetBool("n", "yes", true);
  EXPECT_EQ(testing::Describe(doc), "[n]\n  [min]=[-2147483648]\n  [yes]=[1]\n");
}

TEST(ini_document, large_input_loads_completely) {
  std::string many = "[big]\n";
  int keys = 0;
  for (; many.size() < 10 * 1024 * 1024; ++keys) many += "key" + std::to_string(keys) + "=v\n";
  Read distinct(many);
  EXPECT_EQ(distinct.doc.sections[0].keys.size(), static_cast<std::size_t>(keys));
  EXPECT_EQ(distinct.Get("BIG", "KEY" + std::to_string(keys - 1)), "v");
  EXPECT_EQ(distinct.Saved().size(), many.size() + 1);

  std::string headers;
  while (headers.size() < 10 * 1024 * 1024)
    headers += "[S]\n;c\nk" + std::to_string(headers.size() % 997) + "=1\n";
  Read repeated(headers);
  EXPECT_EQ(repeated.doc.sections[0].comments.size(), repeated.doc.sections.size());
  EXPECT_TRUE(repeated.doc.sections.back().comments.empty());

  const std::string line(100000, 'x');
  Read longLines("[" + line + "]\n;" + line + "\n" + line + "=" + line + "\n" + line + "\n");
  EXPECT_EQ(longLines.Saved(), "[" + line + "]\n;" + line + "\n" + line + "=" + line + "\n\n");
}

}  // namespace
}  // namespace vantrel
