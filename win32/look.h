// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>
// windows.h first
#include <commctrl.h>

#include <string>

#include "forms/design.h"
#include "platform/wide.h"

// The shared look of the Win32 windows: twip geometry scaled to the system's DPI, bold
// "MS Sans Serif", the blue background with white captions, and text in UTF-16.
namespace kt::win32 {

/// UTF-8 to UTF-16 and back, for the W functions.
using platform::FromWide;
using platform::ToWide;

/// A modal message box with the text, the style's icon (kExclamation) and an OK button,
/// captioned `caption` or, when that is empty, with the program's name. Owned by `owner`,
/// or, without one, modal to the whole program.
void ShowMessageBox(HWND owner, const std::string& text, int style, const std::string& caption);

/// The system's dots per inch (96 unless the user scaled the screen).
int ScreenDpi();

/// A design's twips in pixels at the system's DPI.
int Pixels(int twips);
RECT Pixels(const forms::design::Twips& place);

/// A design's place inside a frame, in the form's own coordinates (the controls of a frame
/// are the form's children, so that their notifications reach the form).
forms::design::Twips InFrame(const forms::design::Twips& frame, const forms::design::Twips& place);

/// A 0x00BBGGRR colour value is a COLORREF already.
constexpr COLORREF Colour(unsigned bgr) { return static_cast<COLORREF>(bgr); }

/// "MS Sans Serif" at the size in points, bold or not; made once per size and kept.
HFONT SansSerif(double points, bool bold = true);

/// The evaluation windows' background brush.
HBRUSH BlueBrush();

/// Paints an option button on blue for its NM_CUSTOMDRAW: the theme's own glyph (the
/// classic one without a theme) and the caption in white, with the focus rectangle. A themed
/// option button draws its caption in the theme's text colour and ignores the colour its
/// parent gives in WM_CTLCOLORSTATIC, so on Windows 10 and 11 the design's white captions
/// would come out dark on blue. Wine honours the colour even with a theme on, which is why
/// no screenshot taken under it can show the fault. Returns what the button is to do next.
LRESULT DrawOptionOnBlue(const NMCUSTOMDRAW& draw);

/// The program's icon from its resources, at the system's small or large icon size.
HICON ProgramIcon(bool small);

/// The program's name, the caption of a message box that gives none of its own.
const std::wstring& ApplicationTitle();
void SetApplicationTitle(const std::string& title);

/// The outer size of a window whose client area has the design's size.
SIZE WindowSizeFor(const forms::design::Twips& client, DWORD style, DWORD exStyle, bool menu);

/// Centres a top-level window on the work area of the screen.
void CentreOnScreen(HWND window);

/// Answers WM_CTLCOLORSTATIC and WM_CTLCOLORBTN on a blue form: white captions on blue.
LRESULT BlueControlColours(HDC dc);

}  // namespace kt::win32
