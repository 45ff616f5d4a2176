// SPDX-License-Identifier: MIT
#include "win32/spi_form.h"

#include "forms/design.h"
#include "win32/controls.h"
#include "win32/desktop.h"
#include "win32/look.h"

namespace kt::win32 {

namespace design = forms::design::spi;

namespace {
constexpr int kText2Id = 101;
constexpr int kCommand1Id = 102;
constexpr int kText1Id = 103;
// A fixed single border with the close box alone, and no icon of its own.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
}  // namespace

SPIForm::SPIForm(AppState& app) : logic_(app, TheBoard(), Windows(), *this) {
  Create(L"KT310.SPIForm", design::kCaption, kStyle, kExStyle, design::kClient, nullptr,
         BlueBrush(), false);
  HFONT font = SansSerif(design::kPoints);
  // Created in the design's tab order: the data, SPI Write, the frame length.
  Text1 = Add(L"EDIT", design::kText1, TextBoxStyle(), design::kText1Place, kText1Id, font);
  Command1 = Add(L"BUTTON", design::kCommand1, ButtonStyle(true), design::kCommand1Place,
                 kCommand1Id, SansSerif(design::kButtonPoints));
  Text2 = Add(L"EDIT", design::kText2, TextBoxStyle(), design::kText2Place, kText2Id, font);
  Label2 = Add(L"STATIC", design::kLabel2, SS_LEFT, design::kLabel2Place, -1, font);
  Label1 = Add(L"STATIC", design::kLabel1, SS_LEFT, design::kLabel1Place, -1, font);
  for (HWND box : {Text1, Text2}) SendMessageW(box, EM_SETLIMITTEXT, 0, 0);
  Focus(Text1);
  Form_Load();
}

void SPIForm::SetLamp(unsigned colour) {
  lamp_ = colour;
  const RECT lamp = Pixels(design::kShape1Place);
  InvalidateRect(Handle(), &lamp, TRUE);
}

void SPIForm::Paint(HDC dc) const {
  const RECT lamp = Pixels(design::kShape1Place);
  HBRUSH fill = CreateSolidBrush(Colour(lamp_));
  HGDIOBJ oldBrush = SelectObject(dc, fill);
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
  Rectangle(dc, lamp.left, lamp.top, lamp.right, lamp.bottom);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(fill);
}

LRESULT SPIForm::Procedure(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kCommand1Id && HIWORD(wParam) == BN_CLICKED) Command1_Click();
      return 0;  // Enter in a box writes nothing
    case WM_CLOSE: {
      int cancel = 0;
      Form_Unload(cancel);  // ends the program
      return 0;
    }
    default:
      break;
  }
  return Window::Procedure(message, wParam, lParam);
}

}  // namespace kt::win32
