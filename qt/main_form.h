// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>
#include <array>

#include "core/app_state.h"
#include "forms/main_form_logic.h"

class QAction;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

namespace kt::ui {

/// @brief The main control window: power-down mode, DAC code entry and the update.
class MainForm : public QMainWindow, public forms::MainView {
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

  void Form_Load() { logic_.Form_Load(); }
  void Option1_Click() { logic_.Option_Click(0); }
  void Option2_Click() { logic_.Option_Click(1); }
  void Option3_Click() { logic_.Option_Click(2); }
  void Option4_Click() { logic_.Option_Click(3); }
  void Command2_Click() { logic_.Command2_Click(); }
  void Text1_KeyPress(std::int16_t& keyAscii) { logic_.Text1_KeyPress(keyAscii); }
  void Command1_Click() { logic_.Command1_Click(); }
  void MnuAbout_Click() { logic_.MnuAbout_Click(); }
  void MnuExit_Click() { logic_.MnuExit_Click(); }
  void Form_Unload(int& cancel) { logic_.Form_Unload(cancel); }

  // forms::MainView: the options, the entry box and the format button.
  void SelectOption(std::size_t option) override;
  void FocusOption(std::size_t option) override;
  void MsgBox(const std::string& text, int style, const std::string& caption) override;
  void Close() override { close(); }
  std::string EntryText() const override;
  void SetEntryText(const std::string& text) override;
  void FocusEntry() override;
  std::string FormatCaption() const override;
  void SetFormatCaption(const std::string& caption) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::array<QRadioButton*, 4> Options() const;

  forms::MainFormLogic logic_;
};

}  // namespace kt::ui
