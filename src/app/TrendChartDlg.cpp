#include "app/TrendChartDlg.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <chrono>

#include "session/Summaries.h"
#include "diag/Diagnostics.h"

namespace vantrel {

namespace {

constexpr int kDefaultWindow = 1;  // 5 min

// One colour per line for the 20 a chart may have (the theme repeats after 5): ten strong
// ones, then ten light ones.
constexpr QRgb kLineColours[TrendHistory::kMaxLines] = {
    0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf,
    0xaec7e8, 0xffbb78, 0x98df8a, 0xff9896, 0xc5b0d5, 0xc49c94, 0xf7b6d2, 0xc7c7c7, 0xdbdb8d, 0x9edae5};

// A step of 1, 2 or 5 times a power of ten, at least a whole unit while every value is
// whole (registers, bits), else as fine as the mapped values need.
double NiceStep(double atLeast, bool whole) {
  double step = std::pow(10.0, std::floor(std::log10(std::max(atLeast, 1e-9))));
  if (step < atLeast) step *= step * 2 >= atLeast ? 2 : step * 5 >= atLeast ? 5 : 10;
  return whole ? std::max(step, 1.0) : step;
}

}  // namespace

CTrendChartDlg::CTrendChartDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("trendChart"));
  setWindowTitle(QStringLiteral("Chart - Vantrel Modbus Scanner"));
  setAttribute(Qt::WA_DeleteOnClose);  // closing ends the recording: the next Chart starts afresh

  chart_ = new QChart;
  chart_->legend()->setAlignment(Qt::AlignRight);  // one name a line, however many lines
  timeAxis_ = new QDateTimeAxis(chart_);
  timeAxis_->setTitleText(QStringLiteral("Time"));
  valueAxis_ = new QValueAxis(chart_);
  valueAxis_->setTitleText(QStringLiteral("Value"));
  valueAxis_->setTickType(QValueAxis::TicksDynamic);
  valueAxis_->setTickAnchor(0);
  valueAxis_->setLabelFormat(QStringLiteral("%.0f"));
  chart_->addAxis(timeAxis_, Qt::AlignBottom);
  chart_->addAxis(valueAxis_, Qt::AlignLeft);
  view_ = new QChartView(chart_);  // owns the chart
  view_->setObjectName(QStringLiteral("chartView"));
  view_->setRenderHint(QPainter::Antialiasing);

  window_ = new QComboBox;
  window_->setObjectName(QStringLiteral("timeWindow"));
  for (const TimeWindow& w : kTimeWindows) window_->addItem(QString::fromLatin1(w.caption));
  window_->setCurrentIndex(kDefaultWindow);
  connect(window_, &QComboBox::currentIndexChanged, this, [this](int index) { SetTimeWindow(index); });
  pause_ = new QPushButton(QStringLiteral("Pause"));
  pause_->setObjectName(QStringLiteral("pauseButton"));
  pause_->setCheckable(true);
  connect(pause_, &QPushButton::toggled, this, [this](bool on) { SetPaused(on); });
  auto* save = new QPushButton(QStringLiteral("Save as PNG"));
  save->setObjectName(QStringLiteral("savePngButton"));
  connect(save, &QPushButton::clicked, this, [this] { SavePng(); });
  note_ = new QLabel;
  note_->setObjectName(QStringLiteral("chartNote"));

  auto* controls = new QHBoxLayout;
  controls->addWidget(new QLabel(QStringLiteral("Time window:")));
  controls->addWidget(window_);
  controls->addWidget(pause_);
  controls->addWidget(note_, 1);
  controls->addWidget(save);
  auto* root = new QVBoxLayout(this);
  root->addLayout(controls);
  root->addWidget(view_, 1);
  resize(860, 600);  // room for a legend of 20 lines

  redrawTimer_ = new QTimer(this);
  redrawTimer_->setSingleShot(true);
  connect(redrawTimer_, &QTimer::timeout, this, [this] { Redraw(); });
  Redraw();
}

std::int64_t CTrendChartDlg::NowMs() const {
  if (clock) return clock();
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t CTrendChartDlg::LiveEdge() const { return history_.latest() != 0 ? history_.latest() : NowMs(); }

void CTrendChartDlg::AddRows(const ResponseTable& table, int device, const std::vector<int>& rows,
                             const std::string& poll) {
  const std::size_t left = history_.Follow(table, device, rows, poll);
  for (auto n = static_cast<std::size_t>(chart_->series().size()); n < history_.lines().size(); ++n) {
    auto* series = new QLineSeries(chart_);
    chart_->addSeries(series);  // the chart owns it from here
    // One pixel wide: Qt paints such lines on its fast path, while wider ones go through
    // the general stroker, which made a full plot cost a poll nearly twice its time.
    series->setPen(QPen(QColor(kLineColours[n]), 1));
    series->attachAxis(timeAxis_);
    series->attachAxis(valueAxis_);
  }
  if (history_.lines().empty()) {
    note_->setText(QStringLiteral("Select rows of a filled table, then choose Chart."));
  } else if (left > 0) {
    note_->setText(QStringLiteral("%1 lines at most: %2 rows not charted").arg(TrendHistory::kMaxLines).arg(left));
  } else {
    note_->clear();
  }
  Redraw();
}

void CTrendChartDlg::AddReply(const ResponseTable& table, int device, const std::string& poll) {
  const std::int64_t now = NowMs();
  history_.Add(table, device, now, poll);
  if (pausedAt_) return;
  // The plot moves on once it has moved two pixels, at most twice a second and at least
  // every two seconds; replies in between wait for that redraw. A redraw of 20 full lines
  // costs Qt Charts milliseconds (its hit-test outline of each line most of all), so this
  // keeps the chart to a few percent of a core however long it runs.
  const std::int64_t span = kTimeWindows[window_->currentIndex()].ms;
  const auto interval =
      std::clamp<std::int64_t>(2 * span / std::max(1, static_cast<int>(chart_->plotArea().width())), 500, 2000);
  const std::int64_t wait = drawnAt_ + interval - now;
  if (wait <= 0) {
    Redraw();
  } else if (!redrawTimer_->isActive()) {
    redrawTimer_->start(static_cast<int>(wait));
  }
}

void CTrendChartDlg::Redraw() {
  redrawTimer_->stop();
  drawnAt_ = NowMs();
  const std::int64_t span = kTimeWindows[window_->currentIndex()].ms;
  const std::int64_t to = pausedAt_.value_or(LiveEdge());
  const std::int64_t from = to - span;
  // A point every two pixel columns on average (a bucket's lowest and highest every four):
  // the envelope of a noisy value stays, a one-sample spike too, at half the drawing cost
  // of a point per column.
  const int buckets = std::max(50, static_cast<int>(chart_->plotArea().width()) / 4);
  double low = HUGE_VAL, high = -HUGE_VAL;
  bool whole = true;
  const QList<QAbstractSeries*> series = chart_->series();
  for (std::size_t i = 0; i < history_.lines().size(); ++i) {
    const TrendLine& line = history_.lines()[i];
    whole = whole && line.key.item.empty();
    QList<QPointF> points;
    for (const TrendSample& s : TrendHistory::Decimate(line.samples, from, to, buckets)) {
      points.append(QPointF(static_cast<double>(s.ms), s.value));
      low = std::min<double>(low, s.value);
      high = std::max<double>(high, s.value);
    }
    auto* lineSeries = static_cast<QLineSeries*>(series[static_cast<qsizetype>(i)]);
    // A new name lays the legend out again: only when it changes.
    const QString name = QString::fromStdString(history_.Caption(line));
    if (lineSeries->name() != name) lineSeries->setName(name);
    lineSeries->replace(points);
  }
  timeAxis_->setFormat(span <= 600'000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
  timeAxis_->setTickCount(kTimeWindows[window_->currentIndex()].ticks);
  timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
  if (low > high) low = 0, high = 1;  // nothing to show yet
  // A little room above and below, at least half a unit so that 0 and 1 stand clear, and
  // about six labels on round values.
  const double pad = std::max((high - low) * 0.05, 0.5);
  // Changed in the order that never asks for more labels than either end needs: a range of
  // thousands at an interval of 1 would make thousands of labels on the way.
  const double interval = NiceStep((high - low + 2 * pad) / 6, whole);
  const int decimals = std::clamp(static_cast<int>(-std::floor(std::log10(interval))), 0, 6);
  valueAxis_->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
  // The unit of the mapped items, when every line has the same.
  const QString unit = QString::fromStdString(history_.Unit());
  valueAxis_->setTitleText(unit.isEmpty() ? QStringLiteral("Value") : unit);
  if (interval >= valueAxis_->tickInterval()) valueAxis_->setTickInterval(interval);
  valueAxis_->setRange(low - pad, high + pad);
  valueAxis_->setTickInterval(interval);
}

void CTrendChartDlg::SetTimeWindow(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kTimeWindows))) return;
  if (window_->currentIndex() != index) {
    window_->setCurrentIndex(index);  // comes back here through the signal
    return;
  }
  Redraw();
}

void CTrendChartDlg::SetPaused(bool paused) {
  if (pause_->isChecked() != paused) {
    pause_->setChecked(paused);  // comes back here through the signal
    return;
  }
  pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  pausedAt_ = paused ? std::optional(LiveEdge()) : std::nullopt;
  Redraw();
}

QImage CTrendChartDlg::Picture() const {
  // What the plot alone does not say: what was read, where, and on which day.
  const QString title = QStringLiteral("Trend chart - Vantrel Modbus Scanner");
  QStringList lines;
  if (source) {
    const ChartSource s = source();
    lines << QStringLiteral("Connection: %1    Slave id: %2    Request: %3, offset %4, length %5")
                 .arg(QString::fromStdString(s.connection))
                 .arg(s.slaveId)
                 .arg(QString::fromStdString(FunctionName(s.function)))
                 .arg(s.offset)
                 .arg(s.length);
  }
  const QDateTime from = timeAxis_->min(), to = timeAxis_->max();
  const QString day = QStringLiteral("yyyy-MM-dd HH:mm:ss");
  lines << QStringLiteral("%1 to %2 (%3)")
               .arg(from.toString(day), to.toString(from.date() == to.date() ? QStringLiteral("HH:mm:ss") : day),
                    QString::fromLatin1(kTimeWindows[window_->currentIndex()].caption));
  const QString text = lines.join(QLatin1Char('\n'));

  const QPixmap plot = view_->grab();
  QFont titleFont = font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
  const int margin = 10;
  const QRect room(margin, 0, plot.width() - 2 * margin, 10000);
  const int flags = Qt::AlignLeft | Qt::TextWordWrap;
  const QRect titleRect = QFontMetrics(titleFont).boundingRect(room, flags, title).translated(0, margin);
  const QRect textRect = fontMetrics().boundingRect(room, flags, text).translated(0, titleRect.bottom() + 4);
  const int heading = textRect.bottom() + margin;

  QImage image(plot.width(), heading + plot.height(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setPen(Qt::black);
  painter.setFont(titleFont);
  painter.drawText(titleRect, flags, title);
  painter.setFont(font());
  painter.drawText(textRect, flags, text);
  painter.drawPixmap(0, heading, plot);
  painter.end();
  // The same words for programs that list pictures by their texts.
  image.setText(QStringLiteral("Title"), title);
  image.setText(QStringLiteral("Description"), text);
  return image;
}

bool CTrendChartDlg::SavePng() {
  const std::string proposed = "chart.png";
  std::string path = choosePngFile ? choosePngFile(proposed)
                                   : QFileDialog::getSaveFileName(this, QStringLiteral("Save chart as PNG"),
                                                                  QString::fromStdString(proposed),
                                                                  QStringLiteral("PNG images (*.png)"))
                                         .toStdString();
  if (path.empty()) return false;
  if (QFileInfo(QString::fromStdString(path)).suffix().isEmpty()) path += ".png";
  if (Picture().save(QString::fromStdString(path), "PNG")) return true;
  ShowMessage("Error - The chart could not be saved\n\n%s could not be written.\nChoose another folder or name "
              "and try again.",
              path.c_str());
  return false;
}

}  // namespace vantrel
