// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "forms/design.h"

namespace kt::win32 {

/// @brief A top-level window of the program: its class, its creation from a design and its
/// window procedure, which each form writes as `Procedure`. An exception that escapes a
/// handler never crosses into the system: it ends the program as an untrapped error.
class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  [[nodiscard]] HWND Handle() const { return hwnd_; }

 protected:
  /// Registers the class (once) and creates the window with the design's client size; it
  /// is not shown yet.
  /// `ownIcon`: the class carries the program's icon; without it a window with a dialog
  /// frame (WS_EX_DLGMODALFRAME) shows none.
  void Create(const wchar_t* className, const std::string& caption, DWORD style, DWORD exStyle,
              const forms::design::Twips& client, HMENU menu, HBRUSH background,
              bool ownIcon = true);

  /// Adds a child control at the design's place, in the given font, with its control id.
  /// An option button on a blue form is painted by the form: see DrawOptionOnBlue.
  HWND Add(const wchar_t* className, const std::string& text, DWORD style,
           const forms::design::Twips& place, int id, HFONT font);

  /// Adds a frame: a white line around the place with the caption standing on it, drawn
  /// by the form itself, so that it looks the same under every theme (a themed group box
  /// draws its caption in the theme's colour, and its line all but vanishes on blue).
  void AddFrame(const std::string& caption, const forms::design::Twips& place, HFONT font);

  /// Draws what the form paints itself, over its frames; called inside WM_PAINT.
  virtual void Paint(HDC dc) const;

  /// A modal message box owned by this window; an empty caption gives the program's name.
  void ShowMessage(const std::string& text, int style, const std::string& caption);

  /// The form's window procedure. What every form shares is answered here: a blue form's
  /// control colours (white captions on blue), the designed size as the smallest, the focus
  /// kept across activation, and painting the frames.
  virtual LRESULT Procedure(UINT message, WPARAM wParam, LPARAM lParam);

  /// Puts the keyboard focus on a control, now if the window is active, else when it next
  /// becomes active (a window that is not a dialog does not remember it by itself).
  void Focus(HWND control);

 private:
  static LRESULT CALLBACK Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  SIZE designed_{};
  bool blue_ = false;               ///< a blue form: its controls' captions are white on blue
  std::vector<HWND> drawnOptions_;  ///< the option buttons it paints itself
  HWND focus_ = nullptr;            ///< the control that has, or gets back, the focus

  struct Frame {
    std::wstring Caption;
    forms::design::Twips Place;
    HFONT Font;
  };
  std::vector<Frame> frames_;
};

/// A child control's text, and setting it.
std::string Text(HWND control);
void SetText(HWND control, const std::string& text);

}  // namespace kt::win32
