// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// What the form logic asks of a front end: each window's own controls through its view,
// and the program's windows as a whole through the desktop.
namespace kt::forms {

/// Message box styles, as their values add up: an OK button alone, and the warning icon.
inline constexpr int kOkOnly = 0;
inline constexpr int kExclamation = 48;

/// The exit status of a program ended by an error nobody trapped.
inline constexpr int kUntrappedErrorStatus = 3;

/// @brief What every window can do for its handlers.
class FormView {
 public:
  virtual ~FormView() = default;
  /// A modal message box owned by this window, with the text, the style's icon and an OK
  /// button, captioned `caption` or, when that is empty, with the program's name. Returns
  /// when the user has closed it.
  virtual void MsgBox(const std::string& text, int style, const std::string& caption) = 0;
  /// Closes (unloads) the window.
  virtual void Close() = 0;
};

/// @brief The program's windows as the handlers reach them. Each window exists at most
/// once: showing one creates it the first time, which runs its load.
class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual void ShowDeviceForm() = 0;
  virtual void ShowMainForm() = 0;
  virtual void ShowSpiForm() = 0;
  /// Brings the About window to the front while it is open; loads it afresh once closed.
  virtual void ShowAbout() = 0;
  /// A modal message box that no window owns, captioned as FormView::MsgBox.
  virtual void MsgBox(const std::string& text, int style, const std::string& caption) = 0;
  /// Hides every window without running its close handling and leaves every running
  /// message loop, a message box's too, so that the program ends with `status`.
  virtual void Quit(int status) = 0;
  /// Shows the wait cursor over the program's windows (true), or the cursor it replaced
  /// (false), bringing the windows up to date first; calls nest.
  virtual void SetBusy(bool busy) = 0;
};

/// @brief The wait cursor while it lives. The board library is called on the one thread
/// that also draws the windows, so a slow call would otherwise show nothing at all.
class Busy {
 public:
  explicit Busy(Desktop& desktop) : desktop_(desktop) { desktop_.SetBusy(true); }
  ~Busy() { desktop_.SetBusy(false); }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  Desktop& desktop_;
};

}  // namespace kt::forms
