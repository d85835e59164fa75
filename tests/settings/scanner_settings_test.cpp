#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "debug_records.h"
#include "settings/ScannerSettings.h"
#include "test_folder.h"

namespace vantrel {
namespace {

const std::string kHeader = "[Vantrel Modbus Scanner]\n";

std::string DefaultFile(const std::string& folder) {
  return kHeader +
         "check_for_updates=1\npoll_frequency=0\nrecv_time_out=10000\nmodbus_mode=1\n"
         "com_port=3\nbuad_rate=9600\ndata_bits=8\nstop_bits=1\nparity=N\nlogfile_path=" +
         folder +
         "/log.txt\ndata_format=0\nrequest_id=11\nrequest_length=20\nrequest_offset=1\n"
         "request_function_code=1\nalways_write_multiple=0\nword_order=0\nshow_64bit=0\npoll_period_ms=0\n"
         "keep_polling_on_failure=0\nshow_wire_address=0\ndata_log=0\ndata_log_path=\ndata_log_32bit=0\n"
         "device_path=\nrs485=0\ntcp_host=\ntcp_port=502\nturnaround_ms=100\n\n";
}

// Every persisted field, for whole-object comparisons.
std::string Fields(const ScannerSettings& s) {
  std::string text;
  for (int v : {s.check_for_updates, s.poll_frequency, s.recv_time_out, s.modbus_mode, s.com_port,
                s.buad_rate, s.data_bits, s.stop_bits, s.data_format, s.request_id,
                s.request_length, s.request_offset, s.request_function_code, s.always_write_multiple,
                s.word_order, s.show_64bit, s.poll_period_ms, s.keep_polling_on_failure, s.show_wire_address,
                s.data_log, s.data_log_32bit, s.rs485, s.tcp_port, s.turnaround_ms}) {
    text += std::to_string(v) + "|";
  }
  return text + s.parity + "|" + s.logfile_path + "|" + s.data_log_path + "|" + s.device_path + "|" + s.tcp_host;
}

TEST(scanner_settings, default_save_in_the_working_folder_writes_every_key) {
  testing::WorkingFolder start;
  ScannerSettings settings;
  const std::string here = std::filesystem::current_path().string();
  EXPECT_EQ(settings.startup_path, here);
  EXPECT_FALSE(settings.Load());  // no file yet
  {
    testing::WorkingFolder later;  // the file stays where the program started
    ASSERT_TRUE(settings.Save());
    EXPECT_TRUE(later.Entries().empty());
  }
  EXPECT_EQ(start.Read("settings.ini"), DefaultFile(here));
  EXPECT_EQ(Fields(scannerSettings), Fields(ScannerSettings(scannerSettings.startup_path)));
}

TEST(scanner_settings, load_takes_each_key_present_and_keeps_the_rest) {
  struct Case {
    std::string file;
    bool ok;
    std::function<void(ScannerSettings&)> change;
  } cases[] = {
      {kHeader + "com_port=5\nrequest_length=125\n", true,
       [](auto& s) { s.com_port = 5, s.request_length = 125; }},
      {"[VANTREL modbus SCANNER]\nCOM_PORT=7\n", true, [](auto& s) { s.com_port = 7; }},
      {"[Other Program]\ncom_port=7\n", true, [](auto&) {}},
      {kHeader + "com_port = 7\n", true, [](auto&) {}},
      {kHeader + "parity=Odd\n", true, [](auto& s) { s.parity = 'O'; }},
      {kHeader + "parity=odd\n", true, [](auto& s) { s.parity = 'o'; }},
      {kHeader + "parity=\n", true, [](auto&) {}},
      {kHeader + "check_for_updates=0\n", true, [](auto& s) { s.check_for_updates = 0; }},
      {kHeader + "recv_time_out=ten seconds\n", true, [](auto& s) { s.recv_time_out = 0; }},
      {kHeader + "recv_time_out=2500ms\n", true, [](auto& s) { s.recv_time_out = 2500; }},
      {kHeader + "com_port=-4\nrequest_id=99999\nlogfile_path=logs/a b.txt\n", true,
       [](auto& s) { s.com_port = -4, s.request_id = 99999, s.logfile_path = "logs/a b.txt"; }},
      {"\xEF\xBB\xBF" + kHeader + "com_port=7\n", false, [](auto&) {}},
      {kHeader + "com_port=7\n\tdata_bits=7\n", false, [](auto&) {}},
      {kHeader + "com_port=7\n\x02garbage\xFF\n", false, [](auto&) {}},
      {";comments only\n", false, [](auto&) {}},
      {kHeader + "always_write_multiple=1\n", true, [](auto& s) { s.always_write_multiple = 1; }},
      {kHeader + "word_order=1\n", true, [](auto& s) { s.word_order = 1; }},
      {kHeader + "word_order=3\nshow_64bit=1\n", true, [](auto& s) { s.word_order = 3, s.show_64bit = 1; }},
      {kHeader + "show_64bit=7\n", true, [](auto& s) { s.show_64bit = 1; }},
      {kHeader + "word_order=2\nshow_64bit=0\n", true, [](auto& s) { s.word_order = 2; }},
  };
  for (const Case& c : cases) {
    testing::TempFolder folder;
    folder.Write("settings.ini", c.file);
    ScannerSettings loaded(folder.path()), expected(folder.path());
    c.change(expected);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(loaded.Load(), c.ok) << c.file;
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(Fields(loaded), Fields(expected)) << c.file;
    // Every save rewrites the whole file from memory, and reads back the same.
    ASSERT_TRUE(loaded.Save());
    ScannerSettings again(folder.path());
    EXPECT_TRUE(again.Load());
    EXPECT_EQ(Fields(again), Fields(loaded)) << c.file;
    if (!c.ok) {
      EXPECT_EQ(folder.Read("settings.ini"), DefaultFile(folder.path()));
    }
  }
}

TEST(scanner_settings, negative_poll_frequency_reads_as_once_with_one_debug_line) {
  const struct {
    std::string stored;
    int field;
    bool logged;
  } cases[] = {{"-1", 0, true}, {"-2147483648", 0, true}, {"-5 seconds", 0, true},
               {"0", 0, false}, {"30", 30, false},        {"-0", 0, false}};
  for (const auto& c : cases) {
    testing::WorkingFolder folder;
    folder.Write("settings.ini", kHeader + "poll_frequency=" + c.stored + "\n");
    ScannerSettings settings(folder.path());
    settings.poll_frequency = 600;
    ASSERT_TRUE(settings.Load());
    EXPECT_EQ(settings.poll_frequency, c.field) << c.stored;
    const std::string line = "\nScannerSettings::Load ignored poll_frequency=" +
                             std::to_string(std::stoi(c.stored)) + " in [" +
                             folder.File("settings.ini") +
                             "]: a negative frequency is taken as 0 (Once)";
    EXPECT_EQ(testing::DebugRecords(folder), c.logged ? line : "") << c.stored;
  }
}

TEST(scanner_settings, word_order_takes_only_the_four_orders) {
  const struct {
    std::string stored;
    int field;
    bool logged;
  } cases[] = {{"0", 0, false}, {"1", 1, false}, {"2", 2, false},  {"3", 3, false},
               {"4", 2, true},  {"-1", 2, true}, {"99", 2, true},  {"high", 0, false}};
  for (const auto& c : cases) {
    testing::WorkingFolder folder;
    folder.Write("settings.ini", kHeader + "word_order=" + c.stored + "\n");
    ScannerSettings settings(folder.path());
    settings.word_order = 2;
    ASSERT_TRUE(settings.Load());
    EXPECT_EQ(settings.word_order, c.field) << c.stored;
    const std::string line = "\nScannerSettings::Load ignored word_order=" + c.stored + " in [" +
                             folder.File("settings.ini") + "]: not 0 to 3; the word order stays 2";
    EXPECT_EQ(testing::DebugRecords(folder), c.logged ? line : "") << c.stored;
  }
}

TEST(scanner_settings, a_file_of_the_first_release_loads_the_new_keys_as_defaults) {
  testing::TempFolder folder;
  folder.Write("settings.ini", kHeader +
                                   "check_for_updates=1\npoll_frequency=0\nrecv_time_out=10000\nmodbus_mode=1\n"
                                   "com_port=3\nbuad_rate=9600\ndata_bits=8\nstop_bits=1\nparity=N\nlogfile_path=" +
                                   folder.path() +
                                   "/log.txt\ndata_format=0\nrequest_id=11\nrequest_length=20\nrequest_offset=1\n"
                                   "request_function_code=1\n");
  ScannerSettings settings(folder.path());
  settings.word_order = 0, settings.show_64bit = 0;
  ASSERT_TRUE(settings.Load());
  EXPECT_EQ(settings.word_order, 0);
  EXPECT_EQ(settings.show_64bit, 0);
  EXPECT_EQ(settings.turnaround_ms, 100);
  ASSERT_TRUE(settings.Save());  // written with the new keys at the end
  EXPECT_EQ(folder.Read("settings.ini"), DefaultFile(folder.path()));
}

TEST(scanner_settings, a_poll_period_with_a_fraction_keeps_whole_seconds_beside_it) {
  const struct {
    int setMs;
    int seconds;      // poll_frequency as stored
    const char* key;  // poll_period_ms as stored
  } sets[] = {{0, 0, "0"}, {-5, 0, "0"}, {5000, 5, "5000"}, {250, 1, "250"}, {20, 1, "100"},
              {2500, 3, "2500"}, {2499, 2, "2499"}, {1800000, 1800, "1800000"}};
  for (const auto& c : sets) {
    testing::TempFolder folder;
    ScannerSettings saved(folder.path());
    saved.SetPollPeriodMs(c.setMs);
    ASSERT_TRUE(saved.Save());
    const std::string file = folder.Read("settings.ini");
    EXPECT_NE(file.find("\npoll_frequency=" + std::to_string(c.seconds) + "\n"), std::string::npos) << c.setMs;
    EXPECT_NE(file.find("\npoll_period_ms=" + std::string(c.key) + "\n"), std::string::npos) << c.setMs;
    ScannerSettings loaded(folder.path());
    ASSERT_TRUE(loaded.Load());
    EXPECT_EQ(loaded.PollPeriodMs(), std::stoi(c.key)) << c.setMs;
  }
  // A file whose two keys disagree (poll_frequency changed by hand or by an older reader)
  // means poll_frequency, and the debug log says why.
  const struct {
    std::string stored;
    int periodMs;
    const char* why;  // nullptr: nothing logged
  } loads[] = {{"poll_frequency=1\npoll_period_ms=250\n", 250, nullptr},
               {"poll_frequency=7\n", 7000, nullptr},
               {"poll_frequency=7\npoll_period_ms=250\n", 7000, "not poll_frequency's seconds"},
               {"poll_frequency=7\npoll_period_ms=5000\n", 7000, "not poll_frequency's seconds"},
               {"poll_frequency=1\npoll_period_ms=50\n", 1000, "below 100 ms"},
               {"poll_frequency=0\npoll_period_ms=250\n", 0, "not poll_frequency's seconds"},
               {"poll_frequency=3\npoll_period_ms=0\n", 3000, nullptr}};
  for (const auto& c : loads) {
    testing::WorkingFolder folder;
    folder.Write("settings.ini", kHeader + c.stored);
    ScannerSettings settings(folder.path());
    ASSERT_TRUE(settings.Load());
    EXPECT_EQ(settings.PollPeriodMs(), c.periodMs) << c.stored;
    EXPECT_EQ(testing::DebugRecords(folder).find(c.why ? c.why : "poll_period_ms") != std::string::npos,
              c.why != nullptr)
        << c.stored;
  }
}

TEST(scanner_settings, parity_takes_only_the_five_letters_in_either_case) {
  const struct {
    std::string stored;
    char field;
  } cases[] = {{"N", 'N'}, {"O", 'O'}, {"E", 'E'}, {"M", 'M'}, {"S", 'S'}, {"n", 'n'},
               {"o", 'o'}, {"e", 'e'}, {"m", 'm'}, {"s", 's'}, {"Even", 'E'}, {"&", 0},
               {"=x", 0},  {"X", 0},   {" N", 0},  {"1", 0},   {"%26", 0},  {"\xC3\x89", 0}};
  for (const auto& c : cases) {
    testing::WorkingFolder folder;
    folder.Write("settings.ini", kHeader + "parity=" + c.stored + "\n");
    ScannerSettings settings(folder.path());
    ASSERT_TRUE(settings.Load());
    EXPECT_EQ(settings.parity, c.field ? c.field : 'N') << c.stored;
    const std::string line = "\nScannerSettings::Load ignored parity [" + c.stored + "] in [" +
                             folder.File("settings.ini") +
                             "]: not N, O, E, M or S; the parity stays N";
    EXPECT_EQ(testing::DebugRecords(folder), c.field ? "" : line) << c.stored;
  }
}

TEST(scanner_settings, every_field_survives_a_save_and_a_load) {
  testing::TempFolder folder;
  ScannerSettings saved(folder.path()), loaded(folder.path());
  saved.check_for_updates = 0;
  saved.poll_frequency = 1800;
  int next = -3;
  for (int* field :
       {&saved.recv_time_out, &saved.modbus_mode, &saved.com_port,
        &saved.buad_rate, &saved.data_bits, &saved.stop_bits, &saved.data_format, &saved.request_id,
        &saved.request_length, &saved.request_offset, &saved.request_function_code}) {
    *field = next--;
  }
  saved.parity = 'E';
  saved.logfile_path = "logs/a=b;c.txt";
  saved.always_write_multiple = 1;
  saved.word_order = 3;
  saved.show_64bit = 1;
  saved.keep_polling_on_failure = 1;
  saved.show_wire_address = 1;
  saved.data_log = 1;
  saved.data_log_path = "data/a=b;c.csv";
  saved.data_log_32bit = 1;
  saved.device_path = "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0";
  saved.rs485 = 1;
  saved.tcp_host = "192.168.1.20";
  saved.tcp_port = 1502;
  saved.turnaround_ms = 250;
  ASSERT_TRUE(saved.Save());
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(Fields(loaded), Fields(saved));
  saved.SetPollPeriodMs(250);  // a period with a fraction survives too
  ASSERT_TRUE(saved.Save());
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(Fields(loaded), Fields(saved));
}

TEST(scanner_settings, a_line_break_in_the_log_path_is_not_saved_and_the_old_file_stays) {
  testing::WorkingFolder folder;
  ScannerSettings settings(folder.path());
  settings.com_port = 7;
  ASSERT_TRUE(settings.Save());
  const std::string before = folder.Read("settings.ini");
  for (const char* path : {"logs/a\nb.txt", "logs/a\rb.txt", "log.txt\r\n[x]"}) {
    settings.logfile_path = path;
    settings.com_port = 9;
    EXPECT_FALSE(settings.Save()) << path;
    EXPECT_EQ(folder.Read("settings.ini"), before);
  }
  ScannerSettings next(folder.path());  // the next start still finds its settings
  EXPECT_TRUE(next.Load());
  EXPECT_EQ(next.com_port, 7);
  EXPECT_EQ(next.logfile_path, folder.File("log.txt"));
  const std::string prefix = "\nIniDocument::Save refused to write [" + folder.File("settings.ini") +
                             "]: the value of key [logfile_path] in section [Vantrel Modbus Scanner] ";
  const std::string suffix = ", so it would not read back as written";
  EXPECT_EQ(testing::DebugRecords(folder), prefix + "holds a line feed" + suffix + prefix +
                                               "holds a carriage return" + suffix + prefix +
                                               "holds a line feed" + suffix);
}

TEST(scanner_settings, a_file_with_carriage_returns_alone_loads_every_key) {
  testing::TempFolder folder;
  ScannerSettings saved(folder.path());
  saved.com_port = 7, saved.buad_rate = 19200, saved.parity = 'E', saved.request_length = 125;
  saved.logfile_path = "logs/scan.txt";
  ASSERT_TRUE(saved.Save());
  std::string file = folder.Read("settings.ini");
  std::replace(file.begin(), file.end(), '\n', '\r');
  folder.Write("settings.ini", file);

  ScannerSettings loaded(folder.path());
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(Fields(loaded), Fields(saved));
  ASSERT_TRUE(loaded.Save());  // written back with line feeds, the values kept
  std::replace(file.begin(), file.end(), '\r', '\n');
  EXPECT_EQ(folder.Read("settings.ini"), file);
}

TEST(scanner_settings, check_for_updates_five_reads_as_set_and_writes_as_one) {
  testing::TempFolder folder;
  folder.Write("settings.ini", kHeader + "check_for_updates=5\n");
  ScannerSettings settings(folder.path());
  settings.check_for_updates = 0;
  ASSERT_TRUE(settings.Load());
  EXPECT_EQ(settings.check_for_updates, 1);
  ASSERT_TRUE(settings.Save());
  EXPECT_EQ(folder.Read("settings.ini"), DefaultFile(folder.path()));
}

TEST(scanner_settings, unusable_file_or_folder_fails_and_keeps_the_fields) {
  testing::WorkingFolder folder;  // gets the debug-log lines of the failed saves
  std::filesystem::create_directory(folder.File("settings.ini"));
  for (const std::string& start : {folder.path(), folder.File("gone")}) {
    ScannerSettings settings(start);
    settings.poll_frequency = 30;
    EXPECT_FALSE(settings.Load());
    EXPECT_FALSE(settings.Save());
    EXPECT_EQ(settings.poll_frequency, 30);
  }
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"settings.ini", "Debuglog.txt"}));
  EXPECT_TRUE(std::filesystem::is_directory(folder.File("settings.ini")));
}

TEST(resource_text, preferences_and_unknown_ids) {
  EXPECT_EQ(LoadResourceText(1), "Preferences");
  EXPECT_EQ(LoadResourceText(12345), "");
  for (int i = 0; i < 11; ++i) LoadResourceText(i);  // around all ten slots
  EXPECT_EQ(LoadResourceText(1), "Preferences");
}

}  // namespace
}  // namespace vantrel
