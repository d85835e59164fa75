// Writing from the program: the Write dialog over the table, against vantrel-slave, and
// what a fault on a write leaves behind.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

#include <functional>

#include "app/MainWindowTest.h"
#include "session/PollTexts.h"
#include "app/WriteDlg.h"
#include "support/Process.h"

using namespace vantrel;
using vantrel::test::MainWindow;
using vantrel::test::ReadFile;

namespace {

// Table columns of a register row.
constexpr int kUint16 = 5, kFloat32 = 9, kBitValue = 4;

void ChooseFormat(CWriteDlg& d, const char* name) {
  const int i = d.formatBox()->findText(QString::fromLatin1(name));
  ASSERT_GE(i, 0) << name;
  d.formatBox()->setCurrentIndex(i);
}

void PerRow(CWriteDlg& d, const std::vector<std::string>& values) {
  d.perRowButton()->setChecked(true);
  ASSERT_EQ(d.valueTable()->rowCount(), static_cast<int>(values.size()));
  for (int i = 0; i < d.valueTable()->rowCount(); ++i) {
    d.valueTable()->item(i, 2)->setText(QString::fromStdString(values[static_cast<std::size_t>(i)]));
  }
}

}  // namespace

class WriteDialog : public MainWindow {
 protected:
  // Polls the table, then writes to the rows through the dialog filled by fill; steps the
  // write's reply and the read-back.
  void Poll() {
    dlg_->Poll();
    StepReplyTicks();
  }
  void Write(std::vector<int> rows, std::function<void(CWriteDlg&)> fill) {
    dlg_->runWriteDialog = [fill](CWriteDlg& d) {
      fill(d);
      d.OnWrite();
      return d.result();
    };
    dlg_->OpenWriteDialog(std::move(rows));
    StepReplyTicks();
  }
  std::string Log() const { return dlg_->LogText().toStdString(); }
};

TEST_F(WriteDialog, writes_coils_and_the_table_shows_them) {
  StartSlave();
  WriteSettings("request_function_code=1\nrequest_length=4\n");
  StartWindow();
  Poll();
  ASSERT_EQ(Rows().size(), 4u);
  ASSERT_EQ(Rows()[1][kBitValue], "0");
  Write({1}, [](CWriteDlg& d) {
    EXPECT_TRUE(d.offButton()->isChecked()) << "prefilled with the current value";
    d.onButton()->setChecked(true);
  });
  EXPECT_NE(Log().find("=>Write request: 01 05 00 01 FF 00 DD FA"), std::string::npos) << Log();
  EXPECT_EQ(Rows()[1][kBitValue], "1") << "read back at once";

  Write({0, 1, 2, 3}, [](CWriteDlg& d) { PerRow(d, {"0", "1", "1", "0"}); });
  EXPECT_NE(Log().find("=>Write request: 01 0F 00 00 00 04 01 06"), std::string::npos) << Log();
  std::vector<std::string> values;
  for (const auto& row : Rows()) values.push_back(row[kBitValue]);
  EXPECT_EQ(values, (std::vector<std::string>{"0", "1", "1", "0"}));
  EXPECT_TRUE(box_.boxes.empty());
}

TEST_F(WriteDialog, writes_a_register_a_float_pair_and_a_block_of_ten) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=10\n");
  StartWindow();
  Poll();
  Write({9}, [](CWriteDlg& d) {
    EXPECT_EQ(d.valueEdit()->text(), "10");
    d.valueEdit()->setText("1234");
  });
  EXPECT_NE(Log().find("=>Write request: 01 06 00 09 04 D2"), std::string::npos) << Log();
  EXPECT_EQ(Rows()[9][kUint16], "1234");

  Write({0, 1}, [](CWriteDlg& d) {
    ChooseFormat(d, "float32");
    d.valueEdit()->setText("-2.75");
  });
  EXPECT_EQ(Rows()[1][kFloat32], "-2.750000");

  Write({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, [](CWriteDlg& d) {
    PerRow(d, {"100", "101", "102", "103", "104", "105", "106", "107", "108", "109"});
  });
  EXPECT_NE(Log().find("=>Write request: 01 10 00 00 00 0A 14 00 64 00 65"), std::string::npos)
      << "one request for the block";
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Rows()[static_cast<std::size_t>(i)][kUint16], std::to_string(100 + i));

  // One value for all, forced to function 16 for a single register; the choice is kept.
  Write({4}, [](CWriteDlg& d) {
    d.multipleBox()->setChecked(true);
    ChooseFormat(d, "hex");
    d.valueEdit()->setText("0xBEEF");
  });
  EXPECT_NE(Log().find("=>Write request: 01 10 00 04 00 01 02 BE EF"), std::string::npos) << Log();
  EXPECT_EQ(Rows()[4][kUint16], "48879");
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("always_write_multiple=1"), std::string::npos);
  EXPECT_TRUE(box_.boxes.empty());
  dlg_->show();
  QApplication::processEvents();
  QDir().mkpath(QStringLiteral(VANTREL_ARTIFACT_DIR));
  EXPECT_TRUE(dlg_->grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/main_window_after_writes.png")));
}

TEST_F(WriteDialog, refused_values_keep_the_dialog_open_and_nothing_is_sent) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=2\n");
  StartWindow();
  Poll();
  std::vector<std::string> messages;
  dlg_->runWriteDialog = [&](CWriteDlg& d) {
    for (const char* text : {"70000", "abc", ""}) {
      d.valueEdit()->setText(QString::fromLatin1(text));
      d.OnWrite();
      EXPECT_NE(d.result(), QDialog::Accepted) << text;
      messages.push_back(d.messageLabel()->text().toStdString());
    }
    ChooseFormat(d, "float32");
    d.valueEdit()->setText("1e40");
    d.OnWrite();
    messages.push_back(d.messageLabel()->text().toStdString());
    return int(QDialog::Rejected);
  };
  dlg_->OpenWriteDialog({0, 1});
  const std::vector<std::string> expected = {
      "70000 is out of range for uint16: enter a whole number from 0 to 65535.",
      "\"abc\" is not a uint16 value: enter a whole number from 0 to 65535.",
      "Enter a value: a whole number from 0 to 65535.",
      "1e40 is out of range for float32: enter a number from -3.4028235e38 to 3.4028235e38; below 1.1754944e-38 in size, only one that float32 keeps as written (such as 0).",
  };
  EXPECT_EQ(messages, expected);
  EXPECT_EQ(Log().find("=>Write"), std::string::npos);
  EXPECT_FALSE(dlg_->IsTimerArmed(TIMER_REPLY));
}

// The first cell says what a click there does: "Write" for coils and holding registers,
// "Read-only" for discrete inputs and input registers, whose click explains why.
TEST_F(WriteDialog, inputs_are_read_only) {
  StartSlave();
  for (int function : {1, 2, 3, 4}) {
    WriteSettings("request_function_code=" + std::to_string(function) + "\nrequest_length=2\n");
    box_.boxes.clear();
    dlg_.reset();
    StartWindow();
    bool opened = false;
    dlg_->runWriteDialog = [&](CWriteDlg&) { return opened = true, int(QDialog::Rejected); };
    dlg_->show();
    Poll();
    QApplication::processEvents();
    const bool readOnly = function == 2 || function == 4;
    ASSERT_EQ(Rows().size(), 2u) << function;
    EXPECT_EQ(Rows()[1][0], readOnly ? "Read-only" : "Write") << function;
    QTableView* view = dlg_->responseList();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      view->visualRect(dlg_->responseModel()->index(1, 0)).center());
    EXPECT_EQ(opened, !readOnly) << function;
    ASSERT_EQ(box_.boxes.size(), readOnly ? 1u : 0u) << function;
    if (readOnly) {
      EXPECT_EQ(box_.boxes[0].text, ReadOnlyText(function));
    }
  }
}

// Every reply fault on a write gives its message and leaves the program usable: polling
// at a frequency goes on, and the next write goes through.
TEST_F(WriteDialog, faults_on_a_write_explain_themselves_and_polling_goes_on) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\nrecv_time_out=400\npoll_frequency=5\n");
  StartWindow();
  Poll();
  struct Row {
    int offset;
    std::string message;  // the start of the box text; "" for a confirmed write
  };
  const Row rows[] = {
      {9002, "0x02 - ILLEGAL DATA ADDRESS"},
      {9029, "Error - The write was not confirmed"},
      {9020, "Error - invalid CRC check"},
      {9021, "Error - Timeout"},
      {9023, ""},  // a reply in two halves is gathered whole
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.offset);
    box_.boxes.clear();
    std::string error;
    dlg_->QueueWrite(FrameWrites(1, false, row.offset, {42}, false, 1, error));
    StepReplyTicks();
    if (row.message.empty()) {
      EXPECT_TRUE(box_.boxes.empty());
    } else {
      ASSERT_FALSE(box_.boxes.empty());
      // The box names the write first, then says what went wrong.
      const std::string expected = "Write of 1 holding register at offset " + std::to_string(row.offset) + " (" +
                                   std::to_string(40000 + row.offset) + ") with function 06: 42\n\n" + row.message;
      EXPECT_EQ(box_.boxes[0].text.substr(0, expected.size()), expected);
      if (row.offset == 9021) {
        EXPECT_NE(box_.boxes[0].text.find("Write: 01 06 23 3C 00 2A"), std::string::npos);
      }
    }
    EXPECT_EQ(settings_.poll_frequency, 5) << "a failed write does not stop the polls";
    EXPECT_TRUE(dlg_->IsTimerArmed(TIMER_POLL));
  }
  box_.boxes.clear();
  std::string error;
  dlg_->QueueWrite(FrameWrites(1, false, 1, {777}, false, 1, error));
  StepReplyTicks();
  EXPECT_TRUE(box_.boxes.empty());
  EXPECT_EQ(Rows().at(0)[kUint16], "777");
}

TEST_F(WriteDialog, a_write_queued_behind_a_poll_that_times_out_is_still_sent) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=1\nrequest_offset=9021\nrecv_time_out=300\n");
  StartWindow();
  dlg_->Poll();  // the device stays silent
  std::string error;
  dlg_->QueueWrite(FrameWrites(1, false, 5, {555}, false, 1, error));
  EXPECT_NE(Log().find("The write waits until the exchange on the line is over"), std::string::npos);
  EXPECT_EQ(Log().find("=>Write request"), std::string::npos) << "not while the poll waits";
  StepReplyTicks();
  ASSERT_FALSE(box_.boxes.empty());
  EXPECT_EQ(box_.boxes[0].text.substr(0, 15), "Error - Timeout");
  EXPECT_NE(Log().find("<= Write reply: 00 04 02 2B"), std::string::npos) << Log();
  settings_.request_offset = 5;
  Poll();
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_EQ(Rows()[0][kUint16], "555");
}

TEST_F(WriteDialog, screenshot_of_the_dialog_for_a_block) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=4\n");
  StartWindow();
  Poll();
  dlg_->runWriteDialog = [](CWriteDlg& d) {
    ChooseFormat(d, "float32");
    d.perRowButton()->setChecked(true);
    d.show();
    QApplication::processEvents();
    QDir().mkpath(QStringLiteral(VANTREL_ARTIFACT_DIR));
    EXPECT_TRUE(d.grab().save(QStringLiteral(VANTREL_ARTIFACT_DIR "/write_dialog.png")));
    return int(QDialog::Rejected);
  };
  dlg_->OpenWriteDialog({0, 1, 2, 3});
}

// The View menu's word order: the table is read again in it, and the Write dialog writes
// 32-bit values in the order the table shows.
TEST_F(WriteDialog, the_word_order_shapes_the_cells_and_the_writes) {
  StartSlave();
  WriteSettings("request_function_code=3\nrequest_length=4\n");
  StartWindow();
  Poll();
  dlg_->SetTableFormat(static_cast<int>(WordOrder::HighFirst), 1);
  StepReplyTicks();
  const auto& columns = dlg_->responseModel()->table().columns;
  ASSERT_GE(columns.size(), 13u);
  EXPECT_STREQ(columns[kFloat32].caption, "float32 (high word first)");
  EXPECT_STREQ(columns[12].caption, "float64 (high word first)");
  EXPECT_EQ(Rows()[1][7], std::to_string(1 << 16 | 2)) << "registers 1 and 2, the first the high word";
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("word_order=1\nshow_64bit=1"), std::string::npos);

  Write({0, 1}, [](CWriteDlg& d) {
    ChooseFormat(d, "uint32");
    EXPECT_EQ(d.valueEdit()->text().toStdString(), std::to_string(1 << 16 | 2));
    ChooseFormat(d, "float32");
    d.valueEdit()->setText("3.5");
    // Before Write: which registers get what, in which order.
    EXPECT_EQ(d.planLabel()->text().toStdString(),
              "Writes 40001 = 0x4060, 40002 = 0x0000 (float32, high word first) with function 16");
    d.valueEdit()->setText("3.5e99");
    EXPECT_EQ(d.planLabel()->text(), "") << "nothing that would be written";
    d.valueEdit()->setText("3.5");
  });
  EXPECT_EQ(Rows()[0][4], "0x4060");
  EXPECT_EQ(Rows()[1][4], "0x0000");
  EXPECT_EQ(Rows()[1][kFloat32], "3.500000");
}
