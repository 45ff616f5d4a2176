// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "forms/desktop.h"
#include "platform/registry.h"
#include "platform/version.h"

namespace kt::forms {

/// @brief The About window's controls as its handlers see them.
class AboutView : public FormView {
 public:
  virtual void SetVersionText(const std::string& text) = 0;  ///< lblVersion
};

/// "Version major.minor.revision", as the About window shows a file version.
std::string VersionText(const platform::FileVersion& version);

/// @brief What the About window's handlers do: the version text, OK, and the System
/// Information tool found through the registry.
class AboutFormLogic {
 public:
  explicit AboutFormLogic(AboutView& view) : view_(view), registry_(&platform::SystemRegistry()) {}

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
  AboutView& view_;
  platform::Registry* registry_;
};

}  // namespace kt::forms
