// SPDX-License-Identifier: MIT
#include "win32/window.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>

#include "forms/program.h"
#include "win32/desktop.h"
#include "win32/look.h"

namespace kt::win32 {

Window::~Window() {
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

void Window::Create(const wchar_t* className, const std::string& caption, DWORD style,
                    DWORD exStyle, const forms::design::Twips& client, HMENU menu,
                    HBRUSH background, bool ownIcon) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW known{};
  known.cbSize = sizeof known;
  if (!GetClassInfoExW(instance, className, &known)) {
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = &Window::Dispatch;
    type.hInstance = instance;
    type.hIcon = ownIcon ? ProgramIcon(false) : nullptr;
    type.hIconSm = ownIcon ? ProgramIcon(true) : nullptr;
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.hbrBackground = background;
    type.lpszClassName = className;
    RegisterClassExW(&type);
  }
  designed_ = WindowSizeFor(client, style, exStyle, menu != nullptr);
  blue_ = background == BlueBrush();
  CreateWindowExW(exStyle, className, ToWide(caption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                  designed_.cx, designed_.cy, nullptr, menu, instance, this);
}

HWND Window::Add(const wchar_t* className, const std::string& text, DWORD style,
                 const forms::design::Twips& place, int id, HFONT font) {
  const RECT rect = Pixels(place);
  HWND control = CreateWindowExW(
      0, className, ToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, rect.left, rect.top,
      rect.right - rect.left, rect.bottom - rect.top, hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (blue_ && (style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) drawnOptions_.push_back(control);
  return control;
}

void Window::AddFrame(const std::string& caption, const forms::design::Twips& place, HFONT font) {
  frames_.push_back({ToWide(caption), place, font});
}

void Window::Paint(HDC) const {}

void Window::ShowMessage(const std::string& text, int style, const std::string& caption) {
  ShowMessageBox(hwnd_, text, style, caption);
}

LRESULT Window::Procedure(UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN) && blue_)
    return BlueControlColours(reinterpret_cast<HDC>(wParam));
  if (message == WM_NOTIFY) {
    const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
    if (header.code == NM_CUSTOMDRAW && std::find(drawnOptions_.begin(), drawnOptions_.end(),
                                                  header.hwndFrom) != drawnOptions_.end())
      return DrawOptionOnBlue(*reinterpret_cast<const NMCUSTOMDRAW*>(lParam));
  }
  if (message == WM_GETMINMAXINFO) {
    // Never smaller than designed.
    reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {designed_.cx, designed_.cy};
    return 0;
  }
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd_, &paint);
    for (const Frame& frame : frames_) {
      HGDIOBJ oldFont = SelectObject(dc, frame.Font);
      TEXTMETRICW metrics{};
      GetTextMetricsW(dc, &metrics);
      // The line runs through the middle of the caption's height, as a frame's does.
      RECT line = Pixels(frame.Place);
      line.top += metrics.tmHeight / 2;
      HBRUSH white = CreateSolidBrush(Colour(forms::design::kWhite));
      FrameRect(dc, &line, white);
      DeleteObject(white);
      SetTextColor(dc, Colour(forms::design::kWhite));
      SetBkColor(dc, Colour(forms::design::kBlue));
      SetBkMode(dc, OPAQUE);
      const RECT box = Pixels(frame.Place);
      TextOutW(dc, box.left + Pixels(120), box.top, frame.Caption.c_str(),
               static_cast<int>(frame.Caption.size()));
      SelectObject(dc, oldFont);
    }
    Paint(dc);
    EndPaint(hwnd_, &paint);
    return 0;
  }
  if (message == WM_ACTIVATE) {
    if (LOWORD(wParam) == WA_INACTIVE) {
      HWND focus = GetFocus();
      if (focus && IsChild(hwnd_, focus)) focus_ = focus;
    } else if (focus_ && IsWindow(focus_)) {
      SetFocus(focus_);
    }
    return 0;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Window::Focus(HWND control) {
  focus_ = control;
  if (GetActiveWindow() == hwnd_ || IsWindowVisible(hwnd_)) SetFocus(control);
}

LRESULT CALLBACK Window::Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* window = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    window->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  auto* window = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    window->hwnd_ = nullptr;
    WindowGone(*window);
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  try {
    return window->Procedure(message, wParam, lParam);
  } catch (const std::exception& error) {
    // No exception may unwind through the system's frames.
    forms::EndOnUntrappedError(Windows(), error);
    return 0;
  }
}

std::string Text(HWND control) {
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return FromWide(text);
}

void SetText(HWND control, const std::string& text) {
  SetWindowTextW(control, ToWide(text).c_str());
}

}  // namespace kt::win32
