// A page of the settings sheet. Its caption is its path in the sheet's tree; it sets up
// its controls the first time it is shown, and it is asked before it is left or the
// sheet is confirmed, so that a value that fails its check keeps it on screen.
#pragma once

#include <QIcon>
#include <QString>

#include <initializer_list>
#include <utility>
#include <QWidget>

#include <string>

class QGridLayout;
class QLineEdit;

namespace vantrel {

class CPropertyPage : public QWidget {
  Q_OBJECT

 public:
  CPropertyPage(int dialogId, QString caption, QWidget* parent = nullptr);

  int DialogId() const { return dialogId_; }
  const QString& Caption() const { return caption_; }
  // Shown in the tree and caption bar when the sheet asks for images.
  QIcon icon;

  bool IsInitialised() const { return initialised_; }
  // Sets the controls up from the page's fields, once.
  void EnsureInitialised();

  // The page is being shown.
  virtual void OnSetActive() {}
  // The page is about to be left, or the sheet confirmed: reads the controls into the
  // fields. False when a value fails its check: the page stays.
  virtual bool OnKillActive() { return true; }

 protected:
  virtual void OnInitDialog() {}

  // Reads an edit through a check that returns an empty text or the message to show. On
  // failure the message is shown and the edit gets the focus with its text selected.
  bool ReadEdit(QLineEdit* edit, std::string (*check)(const std::string&, int&), int& field);
  // The same for a text field.
  bool ReadText(QLineEdit* edit, std::string (*check)(const std::string&, std::string&), std::string& field);
  // Shows a value in an edit, touching it only when the text differs (so the caret
  // stays put while the user types).
  static void ShowInEdit(QLineEdit* edit, int value);
  static void ShowInEdit(QLineEdit* edit, const QString& text);
  // Adds a row per control under those the grid has, each with its label (the label's
  // buddy, for its shortcut) in the first column.
  static void AddLabelledRows(QGridLayout* grid, std::initializer_list<std::pair<const char*, QWidget*>> rows);
  // Shows a refused edit's message and puts the focus on it: false.
  static bool Refuse(QLineEdit* edit, const std::string& message);

 private:
  int dialogId_;
  QString caption_;
  bool initialised_ = false;
};

}  // namespace vantrel
