// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <string>

#include "forms/about_form_logic.h"

class QFrame;
class QLabel;
class QPushButton;

namespace kt::ui {

/// @brief The About window: product, version, the maker's address, and the System
/// Information tool.
class frmAbout : public QDialog,  // NOLINT(readability-identifier-naming): the window's name
                 public forms::AboutView {
 public:
  explicit frmAbout(QWidget* parent = nullptr);

  QLabel* picIcon;
  QPushButton* cmdOK;
  QPushButton* cmdSysInfo;
  QLabel* Label1;
  QFrame* Line1_1;
  QLabel* lblDescription;
  QLabel* lblTitle;
  QFrame* Line1_0;
  QLabel* lblVersion;

  void Form_Load() { logic_.Form_Load(); }
  void cmdOK_Click() { logic_.cmdOK_Click(); }
  void cmdSysInfo_Click() { logic_.cmdSysInfo_Click(); }
  void StartSysInfo() { logic_.StartSysInfo(); }
  bool GetKeyValue(std::uint32_t KeyRoot, const std::string& KeyName, const std::string& SubKeyRef,
                   std::string& KeyVal) {
    return logic_.GetKeyValue(KeyRoot, KeyName, SubKeyRef, KeyVal);
  }

  /// Where the window reads the registry: the system's, unless a test gives another.
  void UseRegistry(platform::Registry& registry) { logic_.UseRegistry(registry); }

  // forms::AboutView
  void SetVersionText(const std::string& text) override;
  void MsgBox(const std::string& text, int style, const std::string& caption) override;
  void Close() override { close(); }

 private:
  forms::AboutFormLogic logic_;
};

}  // namespace kt::ui
