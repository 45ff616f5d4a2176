// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>

#include "core/app_state.h"
#include "dac/entry_logic.h"

class QAction;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

namespace kt::ui {

/// @brief The main control window: power-down mode, DAC code entry and the update.
class MainForm : public QMainWindow, public dac::EntryView {
 public:
  explicit MainForm(AppState& app);

  QGroupBox* Frame1;
  QRadioButton* Option1;  ///< "Normal"
  QRadioButton* Option2;  ///< "100 kOhm to GND"
  QRadioButton* Option3;  ///< "Tri - State"
  QRadioButton* Option4;  ///< "1 kOhm to GND"
  QGroupBox* Frame2;
  QPushButton* Command2;  ///< "Update DAC"
  QLineEdit* Text1;       ///< the entry box
  QPushButton* Command1;  ///< the format button, "Hex" or "Dec"
  QMenu* MnuFile;
  QAction* MnuAbout;
  QAction* MnuLine;
  QAction* MnuExit;

  void Form_Load();
  void Option1_Click();
  void Option2_Click();
  void Option3_Click();
  void Option4_Click();
  void Command2_Click();
  void Text1_KeyPress(std::int16_t& keyAscii);
  void Command1_Click();
  void MnuAbout_Click();
  void MnuExit_Click();
  void Form_Unload(int& cancel);

  // The entry box and format button, as the update and the format switch see them.
  std::string EntryText() const override;
  void SetEntryText(const std::string& text) override;
  void FocusEntry() override;
  std::string FormatCaption() const override;
  void SetFormatCaption(const std::string& caption) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ChooseMode(std::size_t option);

  AppState& app_;
};

}  // namespace kt::ui
