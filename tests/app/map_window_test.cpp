// Tabs read by register map, against vantrel-slave's default image (holding register n
// holds n, input register n holds 10n, coil n is on for odd n, discrete input n for n % 3
// == 1, offsets counted from 1): imported, shown, exported, switched to the block request
// and back, written in shown units; names typed into an ordinary table; the data log and
// the chart of a mapped tab.
#include <QAction>
#include <QApplication>
#include <QChart>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTabWidget>
#include <QTableView>
#include <QLineSeries>
#include <QPushButton>
#include <QTest>
#include <QValueAxis>

#include <cmath>
#include <fstream>
#include <functional>

#include "app/DataLogBar.h"
#include "app/MainWindowTest.h"
#include "app/PollTab.h"
#include "app/TrendChartDlg.h"
#include "session/MapTable.h"
#include "session/Workspace.h"

using namespace vantrel;
using vantrel::test::MainWindow;
using vantrel::test::ReadFile;

namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 5000) { return QTest::qWaitFor(done, ms); }

const char kMeterMap[] =
    "name,table,address,type,word_order,scale,unit\n"
    "Temperature,input,2,int16,,0.1,\xC2\xB0" "C\n"
    "Energy,input,3,uint32,high-first,,kWh\n"
    "Setpoint,holding,5,uint16,,,\n"
    "Alarm temperature,holding,10,int16,,0.5,\xC2\xB0" "C\n"
    "Pump,coil,1,bool,,,\n"
    "Door,discrete,2,bool,,,\n"
    "Flag,holding,7,bit:1,,,\n";

}  // namespace

class MapWindow : public MainWindow {
 protected:
  void SetUp() override {
    StartSlave();
    WriteSettings("request_function_code=3\nrequest_length=4\n");
    StartWindow();
    dlg_->askText = [this](const std::string& question, const std::string& proposed) {
      asked_.push_back(question + " [" + proposed + "]");
      return answer_;
    };
    dlg_->chooseMapFile = [this](const std::string&, bool save) { return save ? exportTo_ : importFrom_; };
    std::ofstream(dir_ / "meter.csv") << kMeterMap;
  }
  QAction* Action(const char* name) const { return dlg_->findChild<QAction*>(QString::fromLatin1(name)); }
  // Imports the meter's map into the tab in front and waits for its first cycle.
  void ImportMeter() {
    importFrom_ = dir_ / "meter.csv";
    Action("importMap")->trigger();
    ASSERT_TRUE(WaitFor([&] { return Rows().size() == 7 && !Rows()[0][kMapValue].empty(); }));
  }
  std::string Value(int row) const { return Rows().at(static_cast<std::size_t>(row))[kMapValue]; }
  // Polls the tab in front once more and waits for the cycle's values.
  void PollAgain() {
    const std::int64_t replies = dlg_->statistics().replies();
    dlg_->Poll();
    ASSERT_TRUE(WaitFor([&] { return dlg_->statistics().replies() > replies && !dlg_->session().AwaitingReply(); }));
  }

  std::string importFrom_, exportTo_, answer_;
  std::vector<std::string> asked_;
};

// The map's items, a row each, with their values over the default image; the summary and
// Read by map follow; the map exported reads back the same.
TEST_F(MapWindow, imported_map_is_read_shown_and_exported) {
  EXPECT_FALSE(Action("readByMap")->isEnabled()) << "no map yet";
  ImportMeter();
  EXPECT_EQ(dlg_->requestButton()->text(), "By map: 7 items, Device: 1");
  EXPECT_TRUE(Action("readByMap")->isEnabled());
  EXPECT_TRUE(Action("readByMap")->isChecked());
  const std::vector<std::vector<std::string>> expected = {
      {"Temperature", "30002", "2.0", "\xC2\xB0" "C", "0x0014"},                 // 20 x 0.1
      {"Energy", "30003-30004", "1966120", "kWh", "0x001E 0x0028"},               // 30 x 65536 + 40
      {"Setpoint", "40005", "5", "", "0x0005"},
      {"Alarm temperature", "40010", "5.0", "\xC2\xB0" "C", "0x000A"},  // 10 x 0.5
      {"Pump", "00001", "1", "", "1"},
      {"Door", "10002", "0", "", "0"},
      {"Flag", "40007.1", "1", "", "0x0007"},
  };
  for (std::size_t r = 0; r < expected.size(); ++r) EXPECT_EQ(Rows()[r], expected[r]) << r;
  EXPECT_EQ(dlg_->statusLine()->text().toStdString(), dlg_->statistics().StatusLine());
  EXPECT_EQ(dlg_->statistics().polls(), 4) << "a request per table: coils, discrete, holding, input";

  // Show register formats: each item's first registers in the block table's formats, after
  // Raw, from the last values (no new reply: the data log and the counters stay).
  Action("showFormats")->trigger();
  EXPECT_EQ(dlg_->statistics().replies(), 4);
  const std::vector<std::vector<std::string>> formats = {
      {"2", "300002", "20", "20", "", "", "", "", "", ""},
      {"3", "300003", "30", "30", "1966120", "1966120", "2.755121e-39", "", "", ""},
      {"1", "000001", "", "", "", "", "", "", "", ""},
  };
  for (const auto& [row, cells] : {std::pair{0, formats[0]}, std::pair{1, formats[1]}, std::pair{4, formats[2]}}) {
    const std::vector<std::string> shown = Rows()[static_cast<std::size_t>(row)];
    ASSERT_EQ(shown.size(), 15u);
    EXPECT_EQ(std::vector<std::string>(shown.begin() + 5, shown.end()), cells) << row;
  }
  Action("showFormats")->trigger();
  EXPECT_EQ(Rows()[0].size(), 5u);

  exportTo_ = dir_ / "copy.csv";
  Action("exportMap")->trigger();
  RegisterMap back;
  std::string error;
  ASSERT_TRUE(LoadMap(exportTo_, back, error)) << error;
  EXPECT_EQ(back, dlg_->session().Definition(0).map);

  // Off: the block request's table and summary; on again: the map's.
  Action("readByMap")->trigger();
  EXPECT_FALSE(dlg_->session().Definition(0).byMap);
  EXPECT_EQ(dlg_->requestButton()->text(), "03 Holding registers, Device: 1 Offset: 1 Length: 4");
  ASSERT_TRUE(WaitFor([&] { return Rows().size() == 4; }));
  EXPECT_EQ(Rows()[3][5], "4");
  Action("readByMap")->trigger();
  EXPECT_EQ(dlg_->requestButton()->text(), "By map: 7 items, Device: 1");
  ASSERT_TRUE(WaitFor([&] { return Rows().size() == 7 && !Rows()[0][kMapValue].empty(); }));
  EXPECT_TRUE(box_.boxes.empty());
}

// A map the rules refuse is explained with its file, line and column; the tab keeps what
// it had.
TEST_F(MapWindow, a_refused_map_is_explained_and_changes_nothing) {
  struct Case {
    const char* text;
    const char* where;
  };
  const Case cases[] = {
      {"name,table,address,type\nFlow,holding,1,uint16\nLevel,holding,2,flaot32\n", "line 3: column type"},
      {"name,table,address,type\nFlow,holding,1,uint32\nLevel,holding,2,uint16\n", "line 3"},
      {"name,address\n# a comment\nFlow,70001\n", "line 3: column address"},
  };
  for (const Case& c : cases) {
    std::ofstream(dir_ / "bad.csv") << c.text;
    importFrom_ = dir_ / "bad.csv";
    box_.boxes.clear();
    Action("importMap")->trigger();
    ASSERT_EQ(box_.boxes.size(), 1u) << c.text;
    const std::string& box = box_.boxes[0].text;
    EXPECT_NE(box.find("bad.csv: " + std::string(c.where)), std::string::npos) << box;
    EXPECT_TRUE(dlg_->session().Definition(0).map.empty());
    EXPECT_FALSE(dlg_->session().Definition(0).byMap);
    EXPECT_EQ(dlg_->requestButton()->text(), "03 Holding registers, Device: 1 Offset: 1 Length: 4");
  }
}

// A value typed in shown units is written as the item's registers and read back by the
// next cycle; values an item cannot take are explained, and nothing is sent.
TEST_F(MapWindow, an_item_is_written_in_shown_units) {
  ImportMeter();
  answer_ = "-12.5";
  dlg_->pollTab(0)->writeClicked({3});  // the click on Alarm temperature's first cell
  EXPECT_EQ(asked_, (std::vector<std::string>{"New value of Alarm temperature (\xC2\xB0" "C): [5.0]"}));
  ASSERT_TRUE(WaitFor([&] { return Value(3) == "-12.5"; })) << Value(3);
  EXPECT_EQ(Rows()[3][kMapRaw], "0xFFE7") << "-25 as int16";
  EXPECT_EQ(dlg_->statistics().writes(), 1);

  // A bit of a register keeps the register's other bits, as last read.
  answer_ = "off";
  dlg_->pollTab(0)->writeClicked({6});
  ASSERT_TRUE(WaitFor([&] { return Value(6) == "0"; }));
  EXPECT_EQ(Rows()[6][kMapRaw], "0x0005");

  struct Refused {
    int row;
    const char* value;
    const char* item;
  };
  const Refused refused[] = {
      {3, "20000", "Alarm temperature"},  // past int16 at a scale of 0.5
      {3, "1.2", "Alarm temperature"},    // between two steps of 0.5
      {0, "5", "Temperature"},           // an input register
      {5, "1", "Door"},                  // a discrete input
      {4, "half", "Pump"},
  };
  for (const Refused& r : refused) {
    box_.boxes.clear();
    answer_ = r.value;
    dlg_->pollTab(0)->writeClicked({r.row});
    ASSERT_EQ(box_.boxes.size(), 1u) << r.value;
    EXPECT_NE(box_.boxes[0].text.find(r.item), std::string::npos) << box_.boxes[0].text;
    EXPECT_NE(box_.boxes[0].text.find("Nothing was sent"), std::string::npos);
  }
  EXPECT_EQ(dlg_->statistics().writes(), 2);
  EXPECT_FALSE(dlg_->session().AwaitingReply());
}

// View > Show names: a Name column in an ordinary table; the names typed there make the
// definition's map, which the workspace keeps, Export writes and a poll does not lose.
TEST_F(MapWindow, names_typed_in_an_ordinary_table_are_kept) {
  dlg_->Poll();
  ASSERT_TRUE(WaitFor([&] { return Rows().size() == 4; }));
  ResponseModel* model = dlg_->responseModel();
  const int columns = model->columnCount();
  Action("showNames")->trigger();
  ASSERT_EQ(model->columnCount(), columns + 1);
  EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Name");
  EXPECT_EQ(model->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Offset");
  EXPECT_EQ(model->index(1, 2).data().toString(), "2") << "the offset, one column on";

  struct Edit {
    int row;
    const char* name;
    bool taken;
    std::vector<std::string> names;  // the map's items after it
  };
  const Edit edits[] = {
      {1, "Flow", true, {"Flow"}},
      {3, " Level ", true, {"Flow", "Level"}},
      {0, "Flow", false, {"Flow", "Level"}},  // a name used already
      {3, "Tank level", true, {"Flow", "Tank level"}},
      {1, "", true, {"Tank level"}},          // cleared: the item goes
      {0, "Flow", true, {"Tank level", "Flow"}},
  };
  for (const Edit& e : edits) {
    box_.boxes.clear();
    EXPECT_TRUE(model->setData(model->index(e.row, 1), QString::fromStdString(e.name), Qt::EditRole));
    EXPECT_EQ(box_.boxes.size(), e.taken ? 0u : 1u) << e.name;
    std::vector<std::string> names;
    for (const MapItem& item : dlg_->session().Definition(0).map.items) names.push_back(item.name);
    EXPECT_EQ(names, e.names) << e.name;
  }
  EXPECT_EQ(model->index(3, 1).data().toString(), "Tank level");
  EXPECT_EQ(model->index(1, 1).data().toString(), "");
  const MapItem* tank = dlg_->session().Definition(0).map.Find("Tank level");
  ASSERT_NE(tank, nullptr);
  EXPECT_EQ(tank->table, MapTable::Holding);
  EXPECT_EQ(tank->address, 4);
  EXPECT_EQ(tank->type, MapType::Uint16);

  PollAgain();  // the first poll's request comes from settings.ini, which keeps no map
  EXPECT_EQ(dlg_->session().Definition(0).map.items.size(), 2u);
  EXPECT_FALSE(dlg_->session().Definition(0).byMap) << "still the block request";
  EXPECT_EQ(Rows().size(), 4u);

  dlg_->chooseWorkspace = [&](const std::string&, bool) { return dir_ / "site.vantrel.json"; };
  ASSERT_TRUE(dlg_->SaveWorkspaceFile(false));
  Workspace saved;
  std::string error;
  ASSERT_TRUE(LoadWorkspace(dir_ / "site.vantrel.json", saved, error)) << error;
  EXPECT_EQ(saved.polls[0].map, dlg_->session().Definition(0).map);
  exportTo_ = dir_ / "names.csv";
  Action("exportMap")->trigger();
  EXPECT_EQ(ReadFile(dir_ / "names.csv"), "name,table,address,type\nTank level,holding,4,uint16\nFlow,holding,1,uint16\n");

  Action("showNames")->trigger();
  EXPECT_EQ(model->columnCount(), columns);
  EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Offset");
}

// The data log names a mapped tab's items with their units and logs their shown values,
// after the poll's name when several tabs share the line; the chart follows items by name,
// in shown units, its value axis titled with their unit.
TEST_F(MapWindow, data_log_and_chart_of_a_mapped_tab) {
  ImportMeter();
  const int other = dlg_->AddPoll([] {
    PollDefinition d;
    d.name = "Block";
    d.slaveId = 1;
    d.function = 3;
    d.length = 2;
    return d;
  }());
  dlg_->chooseLogFile = [&](const std::string&, const std::string&) { return dir_ / "data.csv"; };
  dlg_->dataLogBar()->SetOn(true);
  PollAgain();
  const std::string log = ReadFile(dir_ / "data.csv");
  EXPECT_EQ(log.substr(0, log.find('\n')),
            "poll,time,Temperature [\xC2\xB0" "C],Energy [kWh],Setpoint,Alarm temperature [\xC2\xB0" "C],Pump,Door,Flag");
  const std::string row = log.substr(log.find('\n') + 1);
  EXPECT_EQ(row.substr(0, 7), "Poll 1,");
  EXPECT_EQ(row.substr(row.find(',', 7)), ",2.0,1966120,5,5.0,1,0,1\n");

  // Temperature and Alarm temperature: one unit, two lines by name.
  dlg_->responseList()->selectRow(0);
  dlg_->responseList()->selectionModel()->select(dlg_->responseModel()->index(3, 0),
                                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
  dlg_->OpenChart();
  CTrendChartDlg* chart = dlg_->trendChart();
  ASSERT_NE(chart, nullptr);
  const auto names = [&] {
    std::vector<std::string> n;
    for (QAbstractSeries* s : chart->chart()->series()) n.push_back(s->name().toStdString());
    return n;
  };
  EXPECT_EQ(names(), (std::vector<std::string>{"Temperature", "Alarm temperature"}));
  EXPECT_EQ(chart->valueAxis()->titleText(), "\xC2\xB0" "C");
  PollAgain();
  chart->Redraw();
  const QList<QPointF> points = static_cast<QLineSeries*>(chart->chart()->series()[0])->points();
  ASSERT_FALSE(points.isEmpty());
  EXPECT_DOUBLE_EQ(points.back().y(), 2.0);

  // A row of the other tab: the poll names each line, and the axis no single unit.
  dlg_->pollTabs()->setCurrentIndex(other);
  dlg_->Poll();
  ASSERT_TRUE(WaitFor([&] { return Rows().size() == 2; }));
  dlg_->responseList()->selectRow(1);
  dlg_->OpenChart();
  EXPECT_EQ(names(), (std::vector<std::string>{"Poll 1 Temperature", "Poll 1 Alarm temperature", "Block 40002"}));
  EXPECT_EQ(chart->valueAxis()->titleText(), "Value");
  EXPECT_TRUE(box_.boxes.empty());
}
