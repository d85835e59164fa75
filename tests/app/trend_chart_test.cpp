// The trend chart window, opened from the main window and fed by real polls of
// vantrel-slave offscreen; the chart's clock is stepped so that minutes pass in a moment.
#include <QAction>
#include <QApplication>
#include <QChart>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/MainWindowTest.h"
#include "app/TrendChartDlg.h"

using namespace vantrel;

namespace {

constexpr std::int64_t kBase = 1'765'000'000'000;  // a morning in December 2025, in ms

class TrendChart : public vantrel::test::MainWindow {
 protected:
  void Start(const std::string& request) {
    StartSlave({"-a", "1", "--no-pacing"});
    WriteSettings(request);
    StartWindow();
  }
  // Steps the line until it is idle: a poll, or a write and the reading after it.
  void Settle() {
    for (int tick = 0; tick < 100 && dlg_->IsTimerArmed(TIMER_REPLY); ++tick) {
      line_.serial().WaitReadable(50);
      dlg_->OnTimer(TIMER_REPLY);
    }
  }
  void PollAt(std::int64_t ms) {
    now_ = ms;
    dlg_->Poll();
    Settle();
  }
  void Select(std::initializer_list<int> rows) {
    QItemSelectionModel* selection = dlg_->responseList()->selectionModel();
    selection->clearSelection();
    for (int r : rows) {
      selection->select(dlg_->responseModel()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  CTrendChartDlg* Chart() {
    dlg_->findChild<QAction*>(QStringLiteral("chartAction"))->trigger();
    CTrendChartDlg* chart = dlg_->trendChart();
    chart->clock = [this] { return now_; };
    return chart;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (QAbstractSeries* s : dlg_->trendChart()->chart()->series()) names.push_back(s->name().toStdString());
    return names;
  }
  QList<QPointF> Points(int line) const {
    return static_cast<QLineSeries*>(dlg_->trendChart()->chart()->series()[line])->points();
  }
  std::int64_t AxisMs(bool max) const {
    QDateTimeAxis* axis = dlg_->trendChart()->timeAxis();
    return (max ? axis->max() : axis->min()).toMSecsSinceEpoch();
  }

  std::int64_t now_ = kBase;
};

}  // namespace

TEST_F(TrendChart, plots_the_selected_rows_from_real_polls) {
  Start("request_function_code=3\nrequest_offset=1\nrequest_length=4\n");
  PollAt(kBase);
  Select({2, 0, 1});
  // The table's context menu and the View menu offer the same action.
  auto* action = dlg_->findChild<QAction*>(QStringLiteral("chartAction"));
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(dlg_->responseList()->contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_TRUE(dlg_->responseList()->actions().contains(action));
  const QList<QObject*> users = action->associatedObjects();
  EXPECT_TRUE(std::any_of(users.begin(), users.end(), [](QObject* o) {
    auto* menu = qobject_cast<QMenu*>(o);
    return menu != nullptr && menu->title() == "View";
  }));
  CTrendChartDlg* chart = Chart();
  ASSERT_TRUE(chart->isVisible());
  EXPECT_EQ(Names(), (std::vector<std::string>{"40001", "40002", "40003"}));

  // Five minutes of a reading every 5 s: each step writes three registers through the
  // window, which reads the table again after the write, and that reply feeds the chart.
  std::vector<QList<QPointF>> expected(3);
  for (int k = 0; k < 60; ++k) {
    const std::vector<std::uint16_t> words{static_cast<std::uint16_t>(500 + std::lround(300 * std::sin(k / 6.0))),
                                           static_cast<std::uint16_t>(k % 20 * 30),
                                           static_cast<std::uint16_t>(k < 30 ? 200 : 650)};
    std::string error;
    now_ = kBase + 5000 * (k + 1);
    dlg_->QueueWrite(FrameWrites(1, false, 1, words, true, 1, error));
    Settle();
    for (std::size_t i = 0; i < 3; ++i) expected[i].append(QPointF(static_cast<double>(now_), words[i]));
  }
  QApplication::processEvents();  // the layout gives the plot its width
  chart->Redraw();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Points(i), expected[static_cast<std::size_t>(i)]) << i;
  EXPECT_EQ(AxisMs(true), kBase + 300'000);
  EXPECT_EQ(AxisMs(false), kBase);
  EXPECT_TRUE(box_.boxes.empty());
  QApplication::processEvents();  // the chart lays out its axes
  const QImage shot = chart->grab().toImage();
  EXPECT_FALSE(shot.isNull());
  std::filesystem::create_directories(VANTREL_ARTIFACT_DIR);
  EXPECT_TRUE(shot.save(QStringLiteral(VANTREL_ARTIFACT_DIR "/trend_chart.png")));
  chart->choosePngFile = [](const std::string&) { return std::string(VANTREL_ARTIFACT_DIR "/trend_chart_saved.png"); };
  EXPECT_TRUE(chart->SavePng());
}

TEST_F(TrendChart, time_windows_pause_and_another_request) {
  Start("request_function_code=3\nrequest_offset=1\nrequest_length=10\n");
  PollAt(kBase);
  Select({4});
  CTrendChartDlg* chart = Chart();
  for (int k = 1; k <= 3; ++k) PollAt(kBase + 1000 * k);

  for (int i = 0; i < 5; ++i) {
    chart->findChild<QComboBox*>(QStringLiteral("timeWindow"))->setCurrentIndex(i);
    EXPECT_EQ(AxisMs(true), kBase + 3000) << i;
    EXPECT_EQ(AxisMs(true) - AxisMs(false), kTimeWindows[i].ms) << i;
    EXPECT_EQ(chart->timeAxis()->format(), i <= 2 ? "HH:mm:ss" : "HH:mm") << i;
  }

  // Paused, the replies are kept but the plot stays where it was.
  auto* pause = chart->findChild<QPushButton*>(QStringLiteral("pauseButton"));
  pause->click();
  EXPECT_EQ(pause->text(), "Resume");
  PollAt(kBase + 4000);
  PollAt(kBase + 5000);
  chart->Redraw();
  EXPECT_EQ(AxisMs(true), kBase + 3000);
  EXPECT_EQ(chart->history().lines()[0].samples.size(), 5u);
  pause->click();
  EXPECT_EQ(AxisMs(true), kBase + 5000);
  EXPECT_EQ(Points(0).size(), 5);

  // Another offset: the line stays, gets no points and says why; Chart adds the new rows,
  // all of them when none is selected, up to 20 lines.
  settings_.request_offset = 20;
  PollAt(kBase + 7000);
  EXPECT_EQ(Names(), std::vector<std::string>{"40005 (not polled)"});
  EXPECT_EQ(Points(0).size(), 5);
  settings_.request_length = 30;
  PollAt(kBase + 9000);
  dlg_->responseList()->clearSelection();
  EXPECT_EQ(Chart(), chart) << "one window at a time";
  ASSERT_EQ(Names().size(), 20u);
  EXPECT_EQ(Names()[1], "40020");
  EXPECT_EQ(Names()[19], "40038");
  EXPECT_EQ(chart->note()->text(), "20 lines at most: 11 rows not charted");

  // The window redraws by itself: at once when its last redraw is two seconds old (the
  // most it waits), else when its timer runs out.
  PollAt(kBase + 11000);
  EXPECT_EQ(Points(19), (QList<QPointF>{{kBase + 11000.0, 38}}));
  PollAt(kBase + 11100);
  EXPECT_EQ(Points(19).size(), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Points(19).size() == 2; }, 3000));
}

TEST_F(TrendChart, saves_a_png_and_starts_afresh_once_closed) {
  Start("request_function_code=1\nrequest_offset=1\nrequest_length=8\n");
  CTrendChartDlg* chart = Chart();
  EXPECT_EQ(chart->note()->text(), "Select rows of a filled table, then choose Chart.");
  PollAt(kBase);
  Select({1, 2});
  Chart();
  PollAt(kBase + 1000);
  chart->Redraw();
  EXPECT_EQ(Points(0), (QList<QPointF>{{kBase + 1000.0, 0}}));
  EXPECT_EQ(Points(1), (QList<QPointF>{{kBase + 1000.0, 1}}));

  struct Case {
    std::string chosen;  // relative to the test's folder; "" cancels
    bool saved;
    std::string file;
  };
  const Case cases[] = {{"trend", true, "trend.png"}, {"a.png", true, "a.png"}, {"", false, ""},
                        {"no-such-folder/b.png", false, ""}};
  for (const Case& c : cases) {
    box_.boxes.clear();
    std::string proposed;
    chart->choosePngFile = [&](const std::string& name) {
      proposed = name;
      return c.chosen.empty() ? "" : dir_ / c.chosen;
    };
    EXPECT_EQ(chart->SavePng(), c.saved) << c.chosen;
    EXPECT_EQ(proposed, "chart.png");
    if (c.saved) {
      // The plot under a heading that says what it shows, in the picture and in its texts.
      const QImage image(QString::fromStdString(dir_ / c.file));
      const QSize plot = chart->findChild<QWidget*>(QStringLiteral("chartView"))->size();
      EXPECT_EQ(image.width(), plot.width()) << c.chosen;
      const int heading = image.height() - plot.height();
      EXPECT_GT(heading, 30) << c.chosen;
      int dark = 0;
      for (int y = 0; y < heading; ++y) {
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 128;
      }
      EXPECT_GT(dark, 500) << "text in the heading: " << c.chosen;
      EXPECT_EQ(image.text(QStringLiteral("Title")), "Trend chart - Vantrel Modbus Scanner");
      const QString day = QDateTime::fromMSecsSinceEpoch(kBase + 1000).toString(QStringLiteral("yyyy-MM-dd"));
      const auto at = [](std::int64_t ms) { return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss")); };
      EXPECT_EQ(image.text(QStringLiteral("Description")),
                QStringLiteral("Connection: COM 3:115200,N,8,1    Slave id: 1    Request: 01 Coils, offset 1, length 8\n"
                               "%1 %2 to %3 (5 min)")
                    .arg(day, at(kBase + 1000 - 300'000), at(kBase + 1000)));
    }
    EXPECT_EQ(box_.boxes.size(), c.chosen.find('/') != std::string::npos ? 1u : 0u) << c.chosen;
  }
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_EQ(box_.boxes[0].text.rfind("Error - The chart could not be saved\n\n" + (dir_ / "no-such-folder/b.png"), 0), 0u);

  chart->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(dlg_->trendChart(), nullptr);
  Select({0});
  EXPECT_EQ(Chart()->history().lines().size(), 1u);
  EXPECT_EQ(Names(), std::vector<std::string>{"00001"});
}
