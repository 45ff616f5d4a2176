// SPDX-License-Identifier: MIT
#include "win32/look.h"

#include <uxtheme.h>
#include <vssym32.h>

#include <cmath>
#include <map>
#include <vector>

#include "forms/desktop.h"

namespace kt::win32 {

int ScreenDpi() {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    const int value = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return value > 0 ? value : 96;
  }();
  return dpi;
}

int Pixels(int twips) { return MulDiv(twips, ScreenDpi(), 1440); }

RECT Pixels(const forms::design::Twips& place) {
  const int left = Pixels(place.Left);
  const int top = Pixels(place.Top);
  return {left, top, left + Pixels(place.Width), top + Pixels(place.Height)};
}

forms::design::Twips InFrame(const forms::design::Twips& frame, const forms::design::Twips& place) {
  return {frame.Left + place.Left, frame.Top + place.Top, place.Width, place.Height};
}

HFONT SansSerif(double points, bool bold) {
  static std::map<std::pair<int, bool>, HFONT> fonts;
  const int height = -static_cast<int>(std::lround(points * ScreenDpi() / 72.0));
  HFONT& font = fonts[{height, bold}];
  if (!font) {
    font = CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, ToWide(forms::design::kFace).c_str());
  }
  return font;
}

HBRUSH BlueBrush() {
  static HBRUSH brush = CreateSolidBrush(Colour(forms::design::kBlue));
  return brush;
}

LRESULT DrawOptionOnBlue(const NMCUSTOMDRAW& draw) {
  if (draw.dwDrawStage != CDDS_PREPAINT) return CDRF_DODEFAULT;
  HWND button = draw.hdr.hwndFrom;
  HDC dc = draw.hdc;
  const RECT area = draw.rc;
  FillRect(dc, &area, BlueBrush());
  const bool checked = SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
  const bool disabled = draw.uItemState & CDIS_DISABLED;
  const bool pressed = draw.uItemState & CDIS_SELECTED;
  const bool hot = draw.uItemState & CDIS_HOT;
  SIZE glyph{MulDiv(13, ScreenDpi(), 96), MulDiv(13, ScreenDpi(), 96)};
  HTHEME theme = OpenThemeData(button, L"Button");
  const int state = (checked ? RBS_CHECKEDNORMAL : RBS_UNCHECKEDNORMAL) + (disabled  ? 3
                                                                           : pressed ? 2
                                                                           : hot     ? 1
                                                                                     : 0);
  if (theme) GetThemePartSize(theme, dc, BP_RADIOBUTTON, state, nullptr, TS_DRAW, &glyph);
  RECT mark{area.left, area.top + (area.bottom - area.top - glyph.cy) / 2, area.left + glyph.cx, 0};
  mark.bottom = mark.top + glyph.cy;
  if (theme) {
    DrawThemeBackground(theme, dc, BP_RADIOBUTTON, state, &mark, nullptr);
    CloseThemeData(theme);
  } else {
    DrawFrameControl(dc, &mark, DFC_BUTTON,
                     DFCS_BUTTONRADIO | (checked ? DFCS_CHECKED : 0) | (pressed ? DFCS_PUSHED : 0) |
                         (disabled ? DFCS_INACTIVE : 0));
  }
  const int length = GetWindowTextLengthW(button);
  std::wstring caption(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(button, caption.data(), length + 1);
  caption.resize(static_cast<std::size_t>(length));
  HGDIOBJ oldFont =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
  SetTextColor(dc, disabled ? GetSysColor(COLOR_GRAYTEXT) : Colour(forms::design::kWhite));
  SetBkMode(dc, TRANSPARENT);
  RECT text{mark.right + MulDiv(4, ScreenDpi(), 96), area.top, area.right, area.bottom};
  const UINT format = DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_HIDEPREFIX;
  DrawTextW(dc, caption.c_str(), length, &text, format);
  if (draw.uItemState & CDIS_FOCUS) {
    RECT focus = text;
    DrawTextW(dc, caption.c_str(), length, &focus, format | DT_CALCRECT);
    const int middle = (area.top + area.bottom) / 2;
    const int height = focus.bottom - focus.top;
    focus = {focus.left - 1, middle - height / 2 - 1, focus.right + 1, middle + height / 2 + 1};
    SetTextColor(dc, Colour(forms::design::kWhite));
    DrawFocusRect(dc, &focus);
  }
  SelectObject(dc, oldFont);
  return CDRF_SKIPDEFAULT;
}

HICON ProgramIcon(bool small) {
  const int size = GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                       size, size, LR_SHARED));
}

namespace {
std::wstring& Title() {
  static std::wstring title;
  return title;
}
}  // namespace

const std::wstring& ApplicationTitle() { return Title(); }

void SetApplicationTitle(const std::string& title) { Title() = ToWide(title); }

SIZE WindowSizeFor(const forms::design::Twips& client, DWORD style, DWORD exStyle, bool menu) {
  RECT frame = Pixels(client);
  AdjustWindowRectEx(&frame, style, menu ? TRUE : FALSE, exStyle);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

void CentreOnScreen(HWND window) {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT frame{};
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

BOOL CALLBACK CollectEnabled(HWND window, LPARAM windows) {
  if (IsWindowVisible(window) && IsWindowEnabled(window))
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
  return TRUE;
}

}  // namespace

void ShowMessageBox(HWND owner, const std::string& text, int style, const std::string& caption) {
  const UINT icon = (style & forms::kExclamation) ? MB_ICONEXCLAMATION : 0;
  // A box is modal to the whole program. The system disables only the owner (or, for a box
  // without one, every window of the thread), so the program's other windows are disabled
  // here for as long as the box is open, and enabled again before the owner takes the
  // activation back.
  std::vector<HWND> others;
  if (owner) {
    EnumThreadWindows(GetCurrentThreadId(), &CollectEnabled, reinterpret_cast<LPARAM>(&others));
    std::erase(others, owner);
    for (HWND window : others) EnableWindow(window, FALSE);
  }
  MessageBoxW(owner, ToWide(text).c_str(),
              caption.empty() ? ApplicationTitle().c_str() : ToWide(caption).c_str(),
              MB_OK | (owner ? MB_APPLMODAL : MB_TASKMODAL) | icon);
  for (HWND window : others)
    if (IsWindow(window)) EnableWindow(window, TRUE);
}

LRESULT BlueControlColours(HDC dc) {
  SetTextColor(dc, Colour(forms::design::kWhite));
  SetBkColor(dc, Colour(forms::design::kBlue));
  return reinterpret_cast<LRESULT>(BlueBrush());
}

}  // namespace kt::win32
