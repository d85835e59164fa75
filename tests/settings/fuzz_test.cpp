// Random and mutated files through Load, Save, Load: whatever a read makes of a file, a
// write and a second read give back unchanged. Seeded, so a failure repeats.
#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>

#include "settings/IniDocument.h"
#include "settings/ScannerSettings.h"
#include "ini_invariants.h"
#include "test_folder.h"

namespace vantrel {
namespace {

const std::string kCorpus[] = {
    "[Vantrel Modbus Scanner]\ncheck_for_updates=1\npoll_frequency=0\nrecv_time_out=10000\n"
    "modbus_mode=1\ncom_port=3\nbuad_rate=9600\ndata_bits=8\nstop_bits=1\nparity=N\n"
    "logfile_path=logs/log.txt\ndata_format=0\nrequest_id=11\nrequest_length=20\n"
    "request_offset=1\nrequest_function_code=1\n\n",
    ";header\r\n#another\r\n\r\n[one]\r\n;c\r\nk=v\r\nk = v ; x\r\n[ONE]\r\nj=[x]\r\n",
    "loose=1\n[a]b]\n[]\n=empty key\n junk\n[open\nx;y=z\n",
};

// Files of random bytes, mostly those that mean something to the reader, or corpus files with
// bytes changed, inserted, deleted and lines repeated.
class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : rng_() % n; }
  char Byte() {
    static const std::string kSyntax = ";#[]=\n\r \tAz09-";
    return Below(2) ? kSyntax[Below(kSyntax.size())] : static_cast<char>(Below(256));
  }
  std::string Mutated() {
    std::string text = kCorpus[Below(std::size(kCorpus))];
    for (std::size_t edits = 1 + Below(8); edits > 0; --edits) {
      const std::size_t at = Below(text.size());
      const std::size_t line = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at);
      switch (Below(4)) {
        case 0:
          if (!text.empty()) text[at] = Byte();
          break;
        case 1:
          text.insert(at, 1 + Below(4), Byte());
          break;
        case 2:
          text.erase(at, Below(12));
          break;
        default:
          text.insert(line, text.substr(line, text.find('\n', line + 1) - line));
          break;
      }
    }
    return text;
  }
  std::string Next() {
    if (Below(3)) return Mutated();
    std::string text(Below(600), ' ');
    for (char& c : text) c = Byte();
    return text;
  }

 private:
  std::mt19937 rng_;
};

::testing::AssertionResult WellFormed(const IniDocument& doc) {
  const std::string wrong = testing::IllFormed(doc);
  if (wrong.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << wrong;
}

TEST(ini_document_fuzz, load_save_load_gives_the_same_document) {
  testing::WorkingFolder folder;  // Save logs what it refuses
  Generator gen(20240611u);
  int loaded = 0, saved = 0;
  for (int round = 0; round < 3000; ++round) {
    folder.Write("in.ini", gen.Next());
    IniDocument first(folder.File("in.ini")), second(folder.File("out.ini"));
    ::testing::internal::CaptureStdout();
    first.Load();
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(WellFormed(first)) << "round " << round << "\n" << testing::Describe(first);
    first.path = folder.File("out.ini");
    loaded += first.sections.empty() ? 0 : 1;
    // Whatever Load makes of a file can be written, except a carriage return kept in a text.
    ASSERT_EQ(first.Save(), !testing::HoldsCarriageReturn(first)) << "round " << round;
    if (testing::HoldsCarriageReturn(first)) continue;
    ++saved;
    const std::string written = folder.Read("out.ini");
    EXPECT_EQ(second.Load(), !first.section_names.empty());
    ASSERT_EQ(testing::Describe(second), testing::Describe(first)) << "round " << round;
    ASSERT_TRUE(second.Save());
    ASSERT_EQ(folder.Read("out.ini"), written) << "round " << round;
  }
  EXPECT_GT(loaded, 1000);  // most files get past the first line
  EXPECT_GT(saved, 1000);
}

TEST(scanner_settings_fuzz, load_save_load_gives_the_same_settings) {
  testing::WorkingFolder folder;  // Load logs the values it refuses
  Generator gen(7u);
  for (int round = 0; round < 1000; ++round) {
    // A lone carriage return could become the parity letter, which a line end then eats.
    std::string file = gen.Mutated();
    std::erase(file, '\r');
    folder.Write("settings.ini", file);
    ScannerSettings first(folder.path()), second(folder.path());
    ::testing::internal::CaptureStdout();
    first.Load();
    ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(first.Save());
    const std::string written = folder.Read("settings.ini");
    second.parity = 'x';  // a saved file has every key, so nothing may keep this
    ASSERT_TRUE(second.Load());
    ASSERT_TRUE(second.Save());
    ASSERT_EQ(folder.Read("settings.ini"), written) << "round " << round << ":\n" << file;
  }
}

}  // namespace
}  // namespace vantrel
