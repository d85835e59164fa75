// The main window's register maps: a tab read by its map (imported, exported, switched
// to and from its block request), the values of its cycles shown, an item written in its
// shown units, and names typed into an ordinary table kept as the definition's map. The
// rules themselves are Qt-free, in session/MapEdits.h, RegisterMap.h and MapTable.h.
#include <QAction>
#include <QTabWidget>

#include <algorithm>
#include <QMenu>

#include "app/MainDlg.h"
#include "app/PollTab.h"
#include "app/ResponseModel.h"
#include "diag/Diagnostics.h"
#include "session/MapEdits.h"
#include "session/MapTable.h"
#include "settings/ScannerSettings.h"
#include "web/Tattler.h"

namespace vantrel {

void CMainDlg::BuildMapMenus(QMenu* polls, QMenu* view) {
  polls->addSeparator();
  polls->addAction(QStringLiteral("Import register map..."), this, [this] { ImportMap(); })
      ->setObjectName(QStringLiteral("importMap"));
  polls->addAction(QStringLiteral("Export register map..."), this, [this] { ExportMap(); })
      ->setObjectName(QStringLiteral("exportMap"));
  readByMap_ = polls->addAction(QStringLiteral("Read by map"));
  readByMap_->setObjectName(QStringLiteral("readByMap"));
  readByMap_->setCheckable(true);
  readByMap_->setEnabled(false);  // until a map comes
  connect(readByMap_, &QAction::triggered, this, [this](bool on) { SetReadByMap(on); });
  connect(polls, &QMenu::aboutToShow, this, [this] { UpdateMapActions(); });
  showNamesAction_ = view->addAction(QStringLiteral("Show names"));
  showNamesAction_->setObjectName(QStringLiteral("showNames"));
  showNamesAction_->setCheckable(true);
  connect(showNamesAction_, &QAction::triggered, this, [this](bool on) { SetShowNames(on); });
  showFormatsAction_ = view->addAction(QStringLiteral("Show register formats"));
  showFormatsAction_->setObjectName(QStringLiteral("showFormats"));
  showFormatsAction_->setCheckable(true);
  connect(showFormatsAction_, &QAction::triggered, this, [this](bool on) { SetShowFormats(on); });
}

void CMainDlg::UpdateMapActions() {
  const PollDefinition& d = CurrentDefinition();
  readByMap_->setEnabled(!d.map.empty());
  readByMap_->setChecked(d.byMap && !d.map.empty());
  showNamesAction_->setChecked(showNames_);
}

void CMainDlg::WireMapTab(PollTab* tab) {
  tab->model()->nameEdited = [this, tab](int row, const std::string& name) { NameRow(tab, row, name); };
  tab->ShowNames(showNames_);
}

void CMainDlg::ChangeMap(int poll, const PollDefinition& d, bool readNow) {
  session_->Change(poll, d);
  ShowRequest(poll, d);  // another question: the rows of the old one go
  if (poll == CurrentPoll()) UpdateRequestSummary();
  UpdateMapActions();
  RefreshNames(poll);
  AfterSession();
  // Read at once, so that the table shows what the new question asks (when the line is free).
  if (readNow && poll == CurrentPoll() && !IsTimerArmed(TIMER_REPLY) && master_.IsOpen()) Poll();
}

void CMainDlg::ImportMap() {
  const int poll = CurrentPoll();
  if (poll >= session_->Count()) return;
  const std::string path = chooseMapFile ? chooseMapFile(settings_.startup_path, false) : std::string();
  if (path.empty()) return;
  RegisterMap map;
  std::string error;
  if (!LoadMap(path, map, error)) {
    MessageAndLog(kBoxStop, "Error - The register map can not be imported\n\n%s\n\nThe poll keeps what it had.",
                  error.c_str());
    return;
  }
  PollDefinition d = session_->Definition(poll);
  d.map = std::move(map);
  d.byMap = !d.map.empty();
  AddLogLine("Register map imported into %s: %s (%zu items)", PollName(poll).c_str(), path.c_str(),
             d.map.items.size());
  ChangeMap(poll, d, true);
}

void CMainDlg::ExportMap() {
  const PollDefinition& d = CurrentDefinition();
  if (d.map.empty()) {
    ShowMessage("This poll has no register map to export: import one (Poll > Import register map...), or name "
                "rows of its table (View > Show names).");
    return;
  }
  const std::string path = chooseMapFile ? chooseMapFile(settings_.startup_path, true) : std::string();
  if (path.empty()) return;
  std::string error;
  if (!SaveMap(path, d.map, error)) {
    ShowMessage("Error - The register map could not be exported\n\n%s\n\nChoose another folder or name and try again.",
                error.c_str());
    return;
  }
  AddLogLine("Register map exported: %s (%zu items)", path.c_str(), d.map.items.size());
}

void CMainDlg::SetReadByMap(bool on) {
  const int poll = CurrentPoll();
  if (poll >= session_->Count()) return;
  PollDefinition d = session_->Definition(poll);
  on = on && !d.map.empty();
  if (on == d.byMap) return UpdateMapActions();
  d.byMap = on;
  AddLogLine("%s reads %s", PollName(poll).c_str(), on ? "by its register map" : "its block request");
  ChangeMap(poll, d, true);
}

void CMainDlg::OnMapValues(int poll, const MapReading& reading) {
  UpdateTimers();
  ShowStatistics(poll);
  ++m_respCount;
  tattler_.SetValue("RespCount", std::to_string(m_respCount));
  const PollDefinition& d = session_->Definition(poll);
  tabs_.at(static_cast<std::size_t>(poll))->reading = reading;
  ShowTable(poll, MakeMapTable(d.map, reading, d.view.wordOrder, showFormats_), d.slaveId);
}

void CMainDlg::SetShowFormats(bool on) {
  showFormats_ = on;
  showFormatsAction_->setChecked(on);
  // The tables read by map show their last values again, with or without the formats (not
  // a reply: nothing goes to the data log or the chart).
  for (std::size_t i = 0; i < tabs_.size(); ++i) {
    const PollDefinition& d = session_->Definition(static_cast<int>(i));
    if (d.byMap && !d.map.empty() && !tabs_[i]->reading.raw.empty()) {
      tabs_[i]->Show(MakeMapTable(d.map, tabs_[i]->reading, d.view.wordOrder, on), MarkClockMs());
    }
  }
}

void CMainDlg::WriteMapItem(int row) {
  const int poll = CurrentPoll();
  if (poll >= session_->Count()) return;
  const PollDefinition& d = session_->Definition(poll);
  const PollTab* tab = CurrentTab();
  if (row < 0 || row >= static_cast<int>(d.map.items.size())) return;
  const auto r = static_cast<std::size_t>(row);
  const MapItem item = d.map.items[r];
  const std::vector<std::vector<std::string>>& rows = tab->model()->table().rows;
  const std::string current = r < rows.size() ? rows[r][kMapValue] : std::string();
  const std::string question = "New value of " + item.name + (item.unit.empty() ? "" : " (" + item.unit + ")") + ":";
  const std::string text = askText ? askText(question, current) : std::string();
  if (text.empty()) return;
  std::vector<std::uint16_t> raw = r < tab->reading.raw.size() ? tab->reading.raw[r] : std::vector<std::uint16_t>{};
  std::vector<WriteFrame> frames;
  std::string error;
  if (!FrameItemWrite(item, text, d.view.wordOrder, raw, d.slaveId, settings_.always_write_multiple != 0, frames,
                      error)) {
    MessageAndLog(kBoxStop, "Error - Not written\n\n%s\n\nNothing was sent.", error.c_str());
    return;
  }
  AddLogLine("Writing %s = %s%s%s", item.name.c_str(), text.c_str(), item.unit.empty() ? "" : " ", item.unit.c_str());
  session_->Write(poll, std::move(frames));
  AfterSession();
}

void CMainDlg::SetShowNames(bool on) {
  showNames_ = on;
  for (std::size_t i = 0; i < tabs_.size(); ++i) {
    tabs_[i]->ShowNames(on);
    RefreshNames(static_cast<int>(i));
  }
  UpdateMapActions();
}

void CMainDlg::RefreshNames(int poll) {
  if (poll < 0 || poll >= session_->Count() || poll >= static_cast<int>(tabs_.size())) return;
  ResponseModel* model = tabs_[static_cast<std::size_t>(poll)]->model();
  model->SetNames(showNames_ ? RowNames(session_->Definition(poll).map, model->table()) : std::vector<std::string>{});
}

void CMainDlg::NameRow(PollTab* tab, int row, const std::string& name) {
  const auto at = std::find(tabs_.begin(), tabs_.end(), tab);
  if (at == tabs_.end()) return;
  const int poll = static_cast<int>(at - tabs_.begin());
  const ResponseTable& table = tab->model()->table();
  PollDefinition d = session_->Definition(poll);
  std::string error;
  if (!NameMapRow(d.map, table.function, table.firstOffset + row, name, error)) {
    MessageAndLog(kBoxStop, "Error - %s\n\nThe map of %s stays as it was.", error.c_str(), PollName(poll).c_str());
    return;
  }
  if (d.map.empty()) d.byMap = false;
  ChangeMap(poll, d, false);
}

}  // namespace vantrel
