// SPDX-License-Identifier: MIT
#include "win32/look.h"

#include <cmath>
#include <map>

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

void ShowMessageBox(HWND owner, const std::string& text, int style, const std::string& caption) {
  const UINT icon = (style & forms::kExclamation) ? MB_ICONEXCLAMATION : 0;
  const UINT modality = owner ? MB_APPLMODAL : MB_TASKMODAL;
  MessageBoxW(owner, ToWide(text).c_str(),
              caption.empty() ? ApplicationTitle().c_str() : ToWide(caption).c_str(),
              MB_OK | modality | icon);
}

LRESULT BlueControlColours(HDC dc) {
  SetTextColor(dc, Colour(forms::design::kWhite));
  SetBkColor(dc, Colour(forms::design::kBlue));
  return reinterpret_cast<LRESULT>(BlueBrush());
}

}  // namespace kt::win32
