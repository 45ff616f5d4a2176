// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <string>

#include "platform/registry.h"

class QFrame;
class QLabel;
class QPushButton;

namespace kt::ui {

/// @brief The About window: product, version, the maker's address, and the System
/// Information tool.
class frmAbout : public QDialog {  // NOLINT(readability-identifier-naming): the window's name
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

  void Form_Load();
  void cmdOK_Click();
  void cmdSysInfo_Click();

  /// Starts the System Information tool found through the registry, or says it cannot.
  void StartSysInfo();

  /// Reads a registry value for this window (see platform::GetKeyValue).
  bool GetKeyValue(std::uint32_t KeyRoot, const std::string& KeyName, const std::string& SubKeyRef,
                   std::string& KeyVal);

  /// Where the window reads the registry: the system's, unless a test gives another.
  void UseRegistry(platform::Registry& registry) { registry_ = &registry; }

 private:
  platform::Registry* registry_;
};

}  // namespace kt::ui
