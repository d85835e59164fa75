// Save replaces the file atomically: a temporary file beside it, flushed, then renamed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "debug_records.h"
#include "settings/IniDocument.h"
#include "test_folder.h"

namespace vantrel {
namespace {

using Entries = std::set<std::string>;
using testing::DebugRecords;

bool SaveSmall(const std::string& path) {
  IniDocument doc(path);
  doc.SetString("new", "k", "v");
  return doc.Save();
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(ini_save, replaces_the_file_keeping_its_mode_and_symlink) {
  testing::TempFolder folder;
  folder.Write("real.ini", "[old]\nold=1\n");
  chmod(folder.File("real.ini").c_str(), 0640);
  std::filesystem::create_symlink("real.ini", folder.File("link.ini"));
  ASSERT_TRUE(SaveSmall(folder.File("link.ini")));
  EXPECT_EQ(folder.Read("real.ini"), "[new]\nk=v\n\n");
  EXPECT_EQ(ModeOf(folder.File("real.ini")), 0640u);
  EXPECT_TRUE(std::filesystem::is_symlink(folder.File("link.ini")));
  EXPECT_EQ(folder.Entries(), (Entries{"link.ini", "real.ini"}));  // no temporary file left

  const mode_t old = umask(027);  // a new file takes its mode from the umask
  EXPECT_TRUE(SaveSmall(folder.File("new.ini")));
  umask(old);
  EXPECT_EQ(ModeOf(folder.File("new.ini")), 0640u);
}

TEST(ini_save, failure_keeps_the_old_target_and_logs_one_line_each) {
  testing::WorkingFolder folder;
  std::filesystem::create_directory(folder.File("dir.ini"));
  folder.Write("dir.ini/inside", "kept");
  EXPECT_FALSE(SaveSmall(folder.File("dir.ini")));
  EXPECT_FALSE(SaveSmall(folder.File("absent/t.ini")));
  EXPECT_EQ(folder.Read("dir.ini/inside"), "kept");
  EXPECT_EQ(folder.Entries(), (Entries{"dir.ini", "Debuglog.txt"}));
  EXPECT_EQ(DebugRecords(folder), "\nIniDocument::Save could not replace the file for [" +
                                      folder.File("dir.ini") +
                                      "]: Is a directory\nIniDocument::Save could not create a "
                                      "temporary file for [" +
                                      folder.File("absent/t.ini") + "]: No such file or directory");
}

TEST(ini_save, failed_write_keeps_the_old_file_and_removes_the_temporary) {
  testing::WorkingFolder folder;
  folder.Write("t.ini", "[old]\nk=v\n");
  IniDocument doc(folder.File("t.ini"));
  doc.SetString("big", "k", std::string(100000, 'x'));
  // The limit leaves room for the debug-log line.
  const bool ok = testing::WithFileSizeLimit(4096, [&] { return doc.Save(); });

  EXPECT_FALSE(ok);
  EXPECT_EQ(folder.Read("t.ini"), "[old]\nk=v\n");
  EXPECT_EQ(folder.Entries(), (Entries{"t.ini", "Debuglog.txt"}));
  EXPECT_EQ(DebugRecords(folder), "\nIniDocument::Save could not write the temporary file for [" +
                                      folder.File("t.ini") + "]: File too large");
  EXPECT_TRUE(doc.Save());  // the document is intact
  EXPECT_EQ(folder.Read("t.ini").size(), 100010u);
}

TEST(ini_save, text_that_would_not_read_back_is_refused_and_the_old_file_kept) {
  const struct {
    std::function<void(IniDocument&)> add;
    std::string refused;
  } cases[] = {
      {[](auto& d) { d.SetString("s", "k", "logs/a\nb.txt"); },
       "the value of key [k] in section [s] holds a line feed"},
      {[](auto& d) { d.SetString("s", "k", "1\r"); },
       "the value of key [k] in section [s] holds a carriage return"},
      {[](auto& d) { d.SetString("s", "k", "x\ry"); },
       "the value of key [k] in section [s] holds a carriage return"},
      {[](auto& d) { d.SetString("s", "a\nb=c", "v"); },
       "the key [a\\nb=c] in section [s] holds a line feed"},
      {[](auto& d) { d.SetString("s", "a=b", "v"); }, "the key [a=b] in section [s] holds '='"},
      {[](auto& d) { d.SetString("s", "a;b", "v"); }, "the key [a;b] in section [s] holds ';'"},
      {[](auto& d) { d.SetString("s", "#k", "v"); }, "the key [#k] in section [s] holds '#'"},
      {[](auto& d) { d.SetString("s", "k[0]", "v"); }, "the key [k[0]] in section [s] holds '['"},
      {[](auto& d) { d.SetString("s", "\tk", "v"); },
       "the key [\\x09k] in section [s] starts with byte 0x09"},
      {[](auto& d) { d.SetString("s", "\xC3\xA9", "v"); },
       "the key [\\xC3\\xA9] in section [s] starts with byte 0xC3"},
      {[](auto& d) { d.SetString("s", "\x7F", "v"); },
       "the key [\\x7F] in section [s] starts with byte 0x7F"},
      {[](auto& d) { d.SetString("a\r\nb", "k", "v"); },
       "the section name [a\\r\\nb] holds a line feed"},
      {[](auto& d) { d.AddSection("a\rb"); }, "the section name [a\\rb] holds a carriage return"},
      {[](auto& d) { d.AddHeaderComment("two\nlines"); }, "header comment 1 holds a line feed"},
      {[](auto& d) { d.AddSectionComment(0, "fine"), d.AddSectionComment(0, "end\r"); },
       "comment 2 of section [good] holds a carriage return"},
  };
  for (const auto& c : cases) {
    testing::WorkingFolder folder;
    folder.Write("t.ini", "[old]\nk=v\n");
    IniDocument doc(folder.File("t.ini"));
    doc.SetString("good", "k", "v");
    c.add(doc);
    EXPECT_FALSE(doc.Save()) << c.refused;
    EXPECT_EQ(folder.Read("t.ini"), "[old]\nk=v\n");
    EXPECT_EQ(folder.Entries(), (Entries{"t.ini", "Debuglog.txt"}));
    EXPECT_EQ(DebugRecords(folder), "\nIniDocument::Save refused to write [" + folder.File("t.ini") +
                                        "]: " + c.refused + ", so it would not read back as written");
  }
}

TEST(ini_save, texts_that_read_back_are_written) {
  testing::WorkingFolder folder;
  IniDocument doc(folder.File("t.ini")), again(folder.File("t.ini"));
  doc.AddHeaderComment("\t=[;#]");
  doc.SetString("a;b=c[d]#", "x]y", "\t;#[=]\x01\xC3\xA9");
  doc.SetString("", "", "");
  doc.SetString("", " k \xC3\xA9", "\"quoted\" ");
  doc.AddSectionComment(0, "\x7F=");
  ASSERT_TRUE(doc.Save());
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(again.Load());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::Describe(again), testing::Describe(doc));
  EXPECT_EQ(folder.Entries(), (Entries{"t.ini"}));  // nothing logged
}

// The pid of a process that has ended and been reaped, so no process runs under it.
pid_t EndedPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

TEST(ini_save, removes_temporary_files_left_by_ended_processes_only) {
  testing::WorkingFolder folder;
  const std::string dead = std::to_string(EndedPid());
  const std::string live = std::to_string(getpid());
  ASSERT_NE(kill(std::stoi(dead), 0), 0);
  const Entries stale = {".t.ini." + dead + ".0.tmp", ".t.ini." + dead + ".17.tmp"};
  const Entries kept = {
      ".t.ini." + live + ".3.tmp",   // a save of a live process, this one
      ".t.ini." + dead + ".tmp",     // not of the naming
      ".t.ini." + dead + ".x.tmp",   ".t.ini." + dead + ".1.tmp~", ".t.ini.0" + dead + ".1.tmp",
      ".t.ini.-" + dead + ".1.tmp",  ".t.ini.0.1.tmp",               "t.ini." + dead + ".1.tmp",
      ".u.ini." + dead + ".1.tmp",   ".t.ini." + dead + ".1.2.tmp",
  };
  for (const auto& name : stale) folder.Write(name, "half a file");
  for (const auto& name : kept) folder.Write(name, "kept");
  std::filesystem::create_directory(folder.File(".t.ini." + dead + ".9.tmp"));  // not a file

  ASSERT_TRUE(SaveSmall(folder.File("t.ini")));
  Entries expected = kept;
  expected.insert({"t.ini", "Debuglog.txt", ".t.ini." + dead + ".9.tmp"});
  EXPECT_EQ(folder.Entries(), expected);
  EXPECT_EQ(folder.Read("t.ini"), "[new]\nk=v\n\n");
  std::string records;
  for (const auto& name : stale) {
    records += "\nIniDocument::Save removed [" + folder.File(name) + "], left by process " + dead +
               ", which no longer runs";
  }
  EXPECT_EQ(DebugRecords(folder), records);
}

}  // namespace
}  // namespace vantrel
