// SPDX-License-Identifier: MIT
#include "forms/about_form_logic.h"

#include "core/error.h"
#include "platform/process.h"

namespace kt::forms {

std::string VersionText(const platform::FileVersion& version) {
  return "Version " + std::to_string(version.Major) + "." + std::to_string(version.Minor) + "." +
         std::to_string(version.Revision);
}

void AboutFormLogic::Form_Load() {
  view_.SetVersionText(VersionText(platform::ProgramFileVersion()));
}

void AboutFormLogic::cmdOK_Click() { view_.Close(); }

void AboutFormLogic::cmdSysInfo_Click() { StartSysInfo(); }

bool AboutFormLogic::GetKeyValue(std::uint32_t KeyRoot, const std::string& KeyName,
                                 const std::string& SubKeyRef, std::string& KeyVal) {
  return platform::GetKeyValue(*registry_, KeyRoot, KeyName, SubKeyRef, KeyVal);
}

void AboutFormLogic::StartSysInfo() {
  bool started = false;
  try {
    std::string path;
    if (GetKeyValue(platform::kLocalMachine, R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)", "PATH",
                    path)) {
      started = platform::StartProgram(path);
    } else if (GetKeyValue(platform::kLocalMachine, R"(SOFTWARE\Microsoft\Shared Tools Location)",
                           "MSINFO", path) &&
               platform::FileExists(path + R"(\MSINFO32.EXE)")) {
      started = platform::StartProgram(path + R"(\MSINFO32.EXE)");
    }
  } catch (const Error&) {
    started = false;  // every way the tool cannot be had ends in the one message below
  }
  if (!started) view_.MsgBox("System Information Is Unavailable At This Time", kOkOnly, {});
}

}  // namespace kt::forms
