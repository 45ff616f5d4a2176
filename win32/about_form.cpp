// SPDX-License-Identifier: MIT
#include "win32/about_form.h"

#include <commctrl.h>

#include <algorithm>

#include "forms/design.h"
#include "win32/controls.h"
#include "win32/desktop.h"
#include "win32/look.h"

namespace kt::win32 {

namespace design = forms::design::about;

namespace {
constexpr int kCmdSysInfoId = 102;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

// The picture box: a dotted focus rectangle round the icon while it has the focus.
LRESULT CALLBACK PictureProcedure(HWND picture, UINT message, WPARAM wParam, LPARAM lParam,
                                  UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(picture, nullptr, TRUE);
      break;
    case WM_PAINT: {
      const LRESULT result = DefSubclassProc(picture, message, wParam, lParam);
      if (GetFocus() == picture) {
        HDC dc = GetDC(picture);
        RECT box;
        GetClientRect(picture, &box);
        DrawFocusRect(dc, &box);
        ReleaseDC(picture, dc);
      }
      return result;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(picture, &PictureProcedure, 0);
      break;
    default:
      break;
  }
  return DefSubclassProc(picture, message, wParam, lParam);
}

void FillLine(HDC dc, const forms::design::Twips& line, unsigned colour) {
  RECT place = Pixels(line);
  place.bottom = place.top + std::max(1, Pixels(line.Height));
  HBRUSH brush = CreateSolidBrush(Colour(colour));
  FillRect(dc, &place, brush);
  DeleteObject(brush);
}
}  // namespace

frmAbout::frmAbout() : logic_(*this) {
  Create(L"KT310.frmAbout", design::kCaption, kStyle, kExStyle, design::kClient, nullptr,
         reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  HFONT plain = SansSerif(design::kLabelPoints, false);
  HFONT bold = SansSerif(design::kLabelPoints);
  // OK is the default (Enter) and the cancel (Esc) button. Created in the design's tab
  // order: OK, the picture box, System Info.
  cmdOK = Add(L"BUTTON", design::kCmdOK, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP,
              design::kCmdOKPlace, IDOK, plain);
  // The picture box takes the focus in its turn and shows it; the icon sits in its middle.
  picIcon = Add(L"STATIC", "", SS_ICON | SS_CENTERIMAGE | SS_NOTIFY | WS_TABSTOP,
                design::kPicIconPlace, -1, plain);
  SendMessageW(picIcon, STM_SETICON, reinterpret_cast<WPARAM>(ProgramIcon(false)), 0);
  SetWindowSubclass(picIcon, &PictureProcedure, 0, 0);
  cmdSysInfo = Add(L"BUTTON", design::kCmdSysInfo, ButtonStyle(true), design::kCmdSysInfoPlace,
                   kCmdSysInfoId, plain);
  Label1 = Add(L"STATIC", design::kLabel1, SS_LEFT, design::kLabel1Place, -1, bold);
  lblDescription =
      Add(L"STATIC", design::kDescription, SS_LEFT, design::kDescriptionPlace, -1, bold);
  lblTitle = Add(L"STATIC", design::kTitle, SS_LEFT, design::kTitlePlace, -1, bold);
  lblVersion = Add(L"STATIC", design::kVersion, SS_LEFT, design::kVersionPlace, -1, bold);
  Focus(cmdOK);
  Form_Load();
}

void frmAbout::Paint(HDC dc) const {
  FillLine(dc, design::kLine1White, forms::design::kWhite);  // Line1(0), below
  FillLine(dc, design::kLine1Grey, forms::design::kGrey);    // Line1(1), above it
}

LRESULT frmAbout::Procedure(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          // Enter presses the button that has the focus, OK when none has.
          if (GetFocus() == cmdSysInfo) {
            cmdSysInfo_Click();
          } else {
            cmdOK_Click();
          }
          return 0;
        case IDCANCEL:
          Close();
          return 0;
        case kCmdSysInfoId:
          if (HIWORD(wParam) == BN_CLICKED) cmdSysInfo_Click();
          return 0;
        default:
          return 0;
      }
    default:
      break;
  }
  return Window::Procedure(message, wParam, lParam);
}

}  // namespace kt::win32
