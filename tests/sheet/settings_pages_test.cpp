// The Connection, Request and Polling frequency pages offscreen: what they show for stored
// values, what they read back, their validation messages, and the request preview.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "session/PollTexts.h"
#include "sheet/PageRules.h"
#include "settings/ScannerSettings.h"
#include "sheet/Settings_PollFrequencyDlg.h"
#include "sheet/Settings_connectionDlg2.h"
#include "sheet/Settings_requestDlg.h"
#include "sheet/TreePropSheet.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::RecordingPresenter;
using vantrel::test::TempDir;

namespace {

QStringList Entries(const QComboBox* combo) {
  QStringList out;
  for (int i = 0; i < combo->count(); ++i) out << combo->itemText(i);
  return out;
}

// Pages shown as windows of their own, so that focus can be followed.
template <typename Page>
std::unique_ptr<Page> Shown(const ScannerSettings& settings) {
  auto page = std::make_unique<Page>(settings);
  page->EnsureInitialised();
  page->show();
  QApplication::processEvents();
  return page;
}

// Replaces an edit's text in one change, as pasting over a selection does.
void Type(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  edit->insert(text);
}

class Pages : public ::testing::Test {
 protected:
  Pages() : settings_(dir_.path()), oldPortFolder_(PortFolder()) { SetPortFolder(dir_.path()); }
  ~Pages() override { SetPortFolder(oldPortFolder_); }

  TempDir dir_;
  ScannerSettings settings_;
  RecordingPresenter box_;
  std::string oldPortFolder_;
};

}  // namespace

TEST_F(Pages, connection_lists_and_labels) {
  auto page = Shown<CSettings_connectionDlg2>(settings_);
  EXPECT_EQ(page->Caption(), "Connection");
  EXPECT_EQ(Entries(page->modeCombo()), (QStringList{"ASCII", "RTU", "TCP", "RTU over TCP"}));
  EXPECT_TRUE(page->modeCombo()->isEnabled());
  EXPECT_EQ(page->modeCombo()->currentText(), "RTU");
  EXPECT_EQ(Entries(page->baudCombo()), (QStringList{"110", "300", "1200", "2400", "4800", "9600", "19200", "38400",
                                                     "57600", "115200", "230400", "460800", "921600"}));
  EXPECT_EQ(Entries(page->dataBitsCombo()), (QStringList{"8", "7"}));
  EXPECT_EQ(Entries(page->stopBitsCombo()), (QStringList{"1", "1.5", "2"}));
  EXPECT_EQ(Entries(page->parityCombo()), (QStringList{"None", "Odd", "Even", "Mark", "Space"}));
  ASSERT_EQ(page->portCombo()->count(), 10);
  for (int i = 0; i < 10; ++i) {
    const QString name = QStringLiteral("COM%1").arg(i + 1);
    const QString text = page->portCombo()->itemText(i);
    EXPECT_TRUE(text == name || text.startsWith(name + " - ")) << text.toStdString();
  }
  EXPECT_EQ(page->portCombo()->currentIndex(), 2);
  EXPECT_EQ(page->timeoutEdit()->text(), "10");
  EXPECT_TRUE(box_.boxes.empty());
  // every choice is read back at once
  page->baudCombo()->setCurrentIndex(9);
  page->dataBitsCombo()->setCurrentIndex(1);
  page->stopBitsCombo()->setCurrentIndex(2);
  page->parityCombo()->setCurrentIndex(2);
  EXPECT_EQ(page->buad_rate, 115200);
  EXPECT_EQ(page->data_bits, 7);
  EXPECT_EQ(page->stop_bits, 2);
  EXPECT_EQ(page->parity, 'E');
}

TEST_F(Pages, connection_port_list_names_the_device_behind_a_port) {
  std::filesystem::create_symlink("/dev/null", dir_ / "COM4");
  auto page = Shown<CSettings_connectionDlg2>(settings_);
  EXPECT_EQ(page->portCombo()->itemText(3), "COM4 - link to /dev/null");
  page->portCombo()->setCurrentIndex(3);
  EXPECT_EQ(page->com_port, 4) << "stored as index + 1";
}

TEST_F(Pages, connection_time_out_in_whole_seconds) {
  settings_.recv_time_out = 1500;
  auto page = Shown<CSettings_connectionDlg2>(settings_);
  EXPECT_EQ(page->timeoutEdit()->text(), "1");
  EXPECT_EQ(page->recv_time_out, 1000) << "as soon as the page is shown";
  Type(page->timeoutEdit(), "25");
  EXPECT_EQ(page->recv_time_out, 25000);
  EXPECT_EQ(page->timeout_seconds, 25);
}

TEST_F(Pages, connection_stored_values_outside_the_lists) {
  settings_.buad_rate = 14400;
  settings_.com_port = 11;
  settings_.parity = 'X';
  settings_.stop_bits = 3;
  auto page = Shown<CSettings_connectionDlg2>(settings_);
  EXPECT_EQ(page->baudCombo()->currentText(), "9600");
  EXPECT_EQ(page->buad_rate, 9600);
  EXPECT_EQ(page->portCombo()->currentIndex(), -1);
  EXPECT_EQ(page->com_port, 0);
  EXPECT_EQ(page->parityCombo()->currentText(), "None");
  EXPECT_EQ(page->parity, 'N');
  EXPECT_EQ(page->stopBitsCombo()->currentText(), "1.5");
  EXPECT_EQ(page->stop_bits, 3);
  EXPECT_EQ(page->modbus_mode, 1);
}

// The mode shows the serial or the network settings, and only those are checked; a port may
// be typed in as a device path.
TEST_F(Pages, connection_modes_network_settings_and_typed_ports) {
  auto page = Shown<CSettings_connectionDlg2>(settings_);
  EXPECT_TRUE(page->portCombo()->isVisibleTo(page.get()));
  EXPECT_FALSE(page->hostEdit()->isVisibleTo(page.get()));
  page->modeCombo()->setCurrentIndex(2);
  EXPECT_FALSE(page->portCombo()->isVisibleTo(page.get()));
  EXPECT_TRUE(page->hostEdit()->isVisibleTo(page.get()));
  EXPECT_EQ(page->tcpPortEdit()->text(), "502");
  EXPECT_FALSE(page->OnKillActive()) << "a network mode needs a host";
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text, kHostMessage);
  EXPECT_EQ(page->focusWidget(), page->hostEdit());
  Type(page->hostEdit(), " 127.0.0.1 ");
  Type(page->tcpPortEdit(), "65536");
  EXPECT_FALSE(page->OnKillActive());
  EXPECT_EQ(box_.boxes.back().text, "Please enter an integer between 1 and 65535.");
  Type(page->tcpPortEdit(), "1502");
  EXPECT_TRUE(page->OnKillActive());
  EXPECT_EQ(page->modbus_mode, 2);
  EXPECT_EQ(page->tcp_host, "127.0.0.1");
  EXPECT_EQ(page->tcp_port, 1502);

  page->modeCombo()->setCurrentIndex(0);  // ASCII: serial again, the host is not asked for
  page->portCombo()->setEditText(QStringLiteral("/dev/serial/by-id/usb-FTDI-port0"));
  page->rs485Check()->setChecked(true);
  EXPECT_TRUE(page->OnKillActive());
  EXPECT_EQ(page->modbus_mode, 0);
  EXPECT_EQ(page->device_path, "/dev/serial/by-id/usb-FTDI-port0");
  EXPECT_EQ(page->rs485, 1);
  page->portCombo()->setEditText(QStringLiteral("ttyUSB0"));
  EXPECT_FALSE(page->OnKillActive());
  EXPECT_EQ(box_.boxes.back().text, kPortMessage);
  page->portCombo()->setCurrentIndex(4);
  EXPECT_TRUE(page->OnKillActive());
  EXPECT_EQ(page->com_port, 5);
  EXPECT_EQ(page->device_path, "") << "a port from the list replaces the path";
}

TEST(port_rules, a_port_is_a_list_entry_or_a_device_path) {
  const struct {
    const char* text;
    int port;          // 0: refused
    const char* path;  // set when a path
  } cases[] = {{"COM3", 3, ""},          {"com10", 10, ""},   {"COM3 - /dev/ttyUSB0 (FT232R)", 3, ""},
               {" /dev/ttyUSB0 ", 7, "/dev/ttyUSB0"},        {"/dev/serial/by-id/x y", 7, "/dev/serial/by-id/x y"},
               {"COM11", 0, ""},         {"COM0", 0, ""},     {"COM", 0, ""},
               {"COM3x", 0, ""},         {"ttyUSB0", 0, ""},  {"/dev/a\nb", 0, ""},
               {"", 0, ""}};
  for (const auto& c : cases) {
    int port = 7;
    std::string path = "old";
    const std::string message = CheckPortText(c.text, port, path);
    EXPECT_EQ(message.empty(), c.port != 0) << c.text;
    if (c.port == 0) continue;
    EXPECT_EQ(port, c.port) << c.text;
    EXPECT_EQ(path, c.path) << c.text;
  }
  std::string host = "kept";
  for (const char* bad : {"", "  ", "a b", "a\tb"}) EXPECT_EQ(CheckHostEdit(bad, host), kHostMessage) << bad;
  EXPECT_EQ(host, "kept");
  EXPECT_EQ(CheckHostEdit(" plc-7.local ", host), "");
  EXPECT_EQ(host, "plc-7.local");
}

TEST_F(Pages, connection_bad_time_out_is_refused_with_focus_on_it) {
  auto page = Shown<CSettings_connectionDlg2>(settings_);
  Type(page->timeoutEdit(), "");
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text, "Please enter a positive integer.");
  EXPECT_EQ(box_.boxes[0].type, kBoxOk);
  EXPECT_EQ(page->focusWidget(), page->timeoutEdit());
  EXPECT_EQ(page->recv_time_out, 10000) << "the last good value stays";
  page->baudCombo()->setFocus();
  EXPECT_FALSE(page->OnKillActive());
  EXPECT_EQ(page->focusWidget(), page->timeoutEdit());
  EXPECT_EQ(box_.boxes.size(), 2u);
  Type(page->timeoutEdit(), "4");
  EXPECT_TRUE(page->OnKillActive());
  EXPECT_EQ(page->recv_time_out, 4000);
}

TEST_F(Pages, request_preview_of_the_stored_request) {
  settings_.request_id = 1;
  settings_.request_function_code = 3;
  settings_.request_offset = 1;
  settings_.request_length = 10;
  auto page = Shown<CSettings_requestDlg>(settings_);
  EXPECT_EQ(page->Caption(), "Request");
  EXPECT_EQ(Entries(page->functionCombo()),
            (QStringList{"01 Read Coil status (0xxxx) ", "02 Read Input status (1xxxx) ",
                         "03 Read Holding registers (4xxxx) ", "04 Read Input registers (3xxxx) "}));
  EXPECT_EQ(page->functionCombo()->currentText(), "03 Read Holding registers (4xxxx) ");
  EXPECT_EQ(page->previewEdit()->text(), "01 03 00 00 00 0A C5 CD ");
  EXPECT_TRUE(page->previewEdit()->isReadOnly());
  // A length the function cannot carry: no frame while it is typed, the reason in a word,
  // and the whole text when the page would be left, which it is not.
  Type(page->lengthEdit(), "126");
  EXPECT_EQ(page->request_length, 126);
  EXPECT_EQ(page->previewEdit()->text(), "") << "no frame, never the last good one";
  EXPECT_EQ(page->previewEdit()->placeholderText(), "Error - The message is too long");
  EXPECT_TRUE(box_.boxes.empty()) << "no box while typing";
  page->slaveIdEdit()->setFocus();
  EXPECT_FALSE(page->OnKillActive());
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text, RequestErrorText(MB_REQUEST_TOO_LONG));
  EXPECT_EQ(page->focusWidget(), page->lengthEdit());
  page->functionCombo()->setCurrentIndex(0);  // 126 coils are fine
  EXPECT_EQ(page->previewEdit()->text(), "01 01 00 00 00 7E BC 2A ");
  EXPECT_TRUE(page->OnKillActive());
  page->functionCombo()->setCurrentIndex(2);
  Type(page->lengthEdit(), "2");
  page->functionCombo()->setCurrentIndex(3);
  EXPECT_EQ(page->request_function_code, 4);
  EXPECT_EQ(page->previewEdit()->text().left(18), "01 04 00 00 00 02 ");
  EXPECT_EQ(page->preview, page->previewEdit()->text());
}

TEST_F(Pages, request_offset_out_of_range) {
  auto page = Shown<CSettings_requestDlg>(settings_);
  for (const char* text : {"65537", "99999"}) {
    box_.boxes.clear();
    Type(page->offsetEdit(), text);
    ASSERT_FALSE(box_.boxes.empty()) << text;
    EXPECT_EQ(box_.boxes.back().text, "Please enter an integer between 0 and 65536.");
    EXPECT_EQ(page->offsetEdit()->text(), text) << "the text stays for the user to correct";
    EXPECT_EQ(page->focusWidget(), page->offsetEdit());
    EXPECT_EQ(page->request_offset, 1);
    EXPECT_EQ(page->previewEdit()->text(), "") << "no frame for what is not what was typed";
  }
  EXPECT_FALSE(page->OnKillActive());
  // 65536 fits the field, but 20 coils from there run past the range: the request check
  // keeps the page too
  Type(page->offsetEdit(), "65536");
  EXPECT_EQ(page->request_offset, 65536);
  box_.boxes.clear();
  EXPECT_FALSE(page->OnKillActive());
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text, RequestErrorText(MB_REQUEST_OUT_OF_RANGE));
  EXPECT_EQ(page->focusWidget(), page->offsetEdit());
  Type(page->offsetEdit(), "9980");
  EXPECT_TRUE(page->OnKillActive());
  // a slave id the frame cannot carry is refused the same way
  box_.boxes.clear();
  Type(page->slaveIdEdit(), "256");
  ASSERT_FALSE(box_.boxes.empty());
  EXPECT_EQ(box_.boxes.back().text, "Please enter an integer between 1 and 255.");
  EXPECT_FALSE(page->OnKillActive());
}

// The preview is the frame of the mode in use, and follows a mode chosen meanwhile.
TEST_F(Pages, request_preview_in_the_mode) {
  settings_.request_id = 1;
  settings_.request_function_code = 3;
  settings_.request_offset = 1;
  settings_.request_length = 10;
  settings_.modbus_mode = 2;
  auto page = Shown<CSettings_requestDlg>(settings_);
  EXPECT_EQ(page->previewEdit()->text(), "00 01 00 00 00 06 01 03 00 00 00 0A ");
  page->SetMode(0);
  EXPECT_EQ(page->previewEdit()->text(), "01030000000AF2");
  EXPECT_EQ(page->preview, page->previewEdit()->text());
  page->SetMode(3);
  EXPECT_EQ(page->previewEdit()->text(), "01 03 00 00 00 0A C5 CD ");
  EXPECT_TRUE(box_.boxes.empty());
}

TEST_F(Pages, request_empty_slave_id_stops_the_reading_there) {
  auto page = Shown<CSettings_requestDlg>(settings_);
  page->lengthEdit()->blockSignals(true);
  page->lengthEdit()->setText("5");  // typed earlier, not read yet
  page->lengthEdit()->blockSignals(false);
  Type(page->slaveIdEdit(), "");
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text, "Please enter a positive integer.");
  EXPECT_EQ(page->focusWidget(), page->slaveIdEdit());
  EXPECT_EQ(page->request_length, 20) << "the fields after the failed one keep their values";
}

TEST_F(Pages, poll_frequency_7_selects_custom) {
  settings_.poll_frequency = 7;
  auto page = Shown<CSettings_PollFrequencyDlg>(settings_);
  EXPECT_EQ(page->pollCombo()->currentText(), "Custom");
  EXPECT_TRUE(page->pollEdit()->isEnabled());
  EXPECT_EQ(page->pollEdit()->text(), "7");
  EXPECT_EQ(page->poll_period_ms, 7000);
}

TEST_F(Pages, poll_frequency_fixed_entries_and_custom_value) {
  auto page = Shown<CSettings_PollFrequencyDlg>(settings_);
  EXPECT_EQ(page->Caption(), "Polling frequency");
  EXPECT_EQ(Entries(page->pollCombo()),
            (QStringList{"Once only", "1 second", "5 second", "10 seconds ", "30 seconds", "1 minutes", "5 minutes",
                         "10 minutes", "30 minutes", "Custom"}));
  EXPECT_EQ(page->pollCombo()->currentText(), "Once only");
  EXPECT_FALSE(page->pollEdit()->isEnabled());
  page->pollCombo()->setCurrentIndex(6);
  EXPECT_EQ(page->poll_period_ms, 300000);
  EXPECT_EQ(page->pollEdit()->text(), "300");
  EXPECT_FALSE(page->pollEdit()->isEnabled());
  page->pollCombo()->setCurrentIndex(kCustomPollEntry);
  EXPECT_TRUE(page->pollEdit()->isEnabled());
  Type(page->pollEdit(), "45");
  EXPECT_EQ(page->poll_period_ms, 300000) << "typing is taken over when the page is left";
  EXPECT_TRUE(page->OnKillActive());
  EXPECT_EQ(page->poll_period_ms, 45000);
  Type(page->pollEdit(), "0.25");
  EXPECT_TRUE(page->OnKillActive());
  EXPECT_EQ(page->poll_period_ms, 250);
  Type(page->pollEdit(), "soon");
  EXPECT_FALSE(page->OnKillActive());
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text, kPollSecondsMessage);
  EXPECT_EQ(page->focusWidget(), page->pollEdit());
  EXPECT_EQ(page->poll_period_ms, 250);
  EXPECT_FALSE(page->keepPollingRadio()->isChecked()) << "stop and explain, as a failure always did";
  page->keepPollingRadio()->setChecked(true);
  EXPECT_EQ(page->keep_polling_on_failure, 1);
}

TEST_F(Pages, a_failing_page_cannot_be_left_in_the_sheet) {
  CTreePropSheet sheet(QStringLiteral("Preferences"));
  sheet.EnableTreeMode(true, true, false);
  auto* connection = new CSettings_connectionDlg2(settings_);
  auto* request = new CSettings_requestDlg(settings_);
  sheet.AddPage(connection);
  sheet.AddPage(request);
  sheet.SetActivePage(request);
  sheet.show();
  QApplication::processEvents();
  Type(request->offsetEdit(), "65537");
  ASSERT_EQ(box_.boxes.size(), 1u);
  QTreeWidget* tree = sheet.pageTree();
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(0)).center());
  EXPECT_EQ(sheet.GetActivePage(), request);
  EXPECT_EQ(tree->currentItem()->text(0), "Request");
  EXPECT_EQ(box_.boxes.size(), 2u);
  EXPECT_EQ(sheet.focusWidget(), request->offsetEdit()) << "the failed field keeps the focus";
  sheet.okButton()->click();
  EXPECT_TRUE(sheet.isVisible());
  EXPECT_EQ(box_.boxes.size(), 3u);
  Type(request->offsetEdit(), "5");
  QTest::keyClick(request->offsetEdit(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(sheet.GetActivePage(), connection) << "Ctrl+Tab wraps to the first page";
  sheet.okButton()->click();
  EXPECT_EQ(sheet.result(), QDialog::Accepted);
  EXPECT_EQ(request->request_offset, 5);
}
