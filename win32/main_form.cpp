// SPDX-License-Identifier: MIT
#include "win32/main_form.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

#include "dac/power_down.h"
#include "forms/design.h"
#include "win32/controls.h"
#include "win32/desktop.h"
#include "win32/look.h"

namespace kt::win32 {

namespace design = forms::design::main;

namespace {
constexpr int kOptionId = 101;  // Option1..Option4: 101..104
constexpr int kCommand2Id = 110;
constexpr int kText1Id = 111;
constexpr int kCommand1Id = 112;
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW & ~WS_MAXIMIZEBOX;

HMENU MakeMenu(HMENU& file) {
  HMENU bar = CreateMenu();
  file = CreatePopupMenu();
  AppendMenuW(file, MF_STRING, MainForm::kMnuAbout, ToWide(design::kMenuAbout).c_str());
  AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(file, MF_STRING, MainForm::kMnuExit, ToWide(design::kMenuExit).c_str());
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), ToWide(design::kMenuFile).c_str());
  return bar;
}
}  // namespace

MainForm::MainForm(AppState& app) : logic_(app, TheBoard(), Windows(), *this) {
  Create(L"KT310.MainForm", design::kCaption, kStyle, 0, design::kClient, MakeMenu(MnuFile),
         BlueBrush());
  HFONT frameFont = SansSerif(design::kFramePoints);
  HFONT buttonFont = SansSerif(design::kButtonPoints);
  AddFrame(design::kFrame1, design::kFrame1Place, frameFont);
  // Created top to bottom: the arrow keys walk a group in the order its buttons were made,
  // and a user expects Down to give the option below.
  std::array<std::size_t, 4> onScreen{0, 1, 2, 3};
  std::sort(onScreen.begin(), onScreen.end(), [](std::size_t a, std::size_t b) {
    return design::OptionPlace(a).Top < design::OptionPlace(b).Top;
  });
  for (std::size_t i : onScreen) {
    Option[i] = Add(L"BUTTON", dac::kPowerDownModes[i].Caption, OptionStyle(i == onScreen[0]),
                    InFrame(design::kFrame1Place, design::OptionPlace(i)),
                    kOptionId + static_cast<int>(i), frameFont);
  }
  AddFrame(design::kFrame2, design::kFrame2Place, frameFont);
  // Created in the design's tab order: Update DAC, the entry box, the format button.
  Command2 = Add(L"BUTTON", design::kCommand2, ButtonStyle(true),
                 InFrame(design::kFrame2Place, design::kCommand2Place), kCommand2Id, buttonFont);
  Text1 = Add(L"EDIT", design::kText1, TextBoxStyle(),
              InFrame(design::kFrame2Place, design::kText1Place), kText1Id,
              SansSerif(design::kTextPoints));
  SendMessageW(Text1, EM_SETLIMITTEXT, 0, 0);  // no limit of its own
  SetWindowSubclass(Text1, &MainForm::Text1Procedure, 0, reinterpret_cast<DWORD_PTR>(this));
  Command1 = Add(L"BUTTON", design::kCommand1, ButtonStyle(true),
                 InFrame(design::kFrame2Place, design::kCommand1Place), kCommand1Id, buttonFont);
  Form_Load();
}

void MainForm::Option_Click(std::size_t option) {
  if (option == selected_) return;  // only a change of selection is a click
  selected_ = option;
  logic_.Option_Click(option);
}

void MainForm::SelectOption(std::size_t option) {
  CheckOnly(Option, option);
  Option_Click(option);
}

void MainForm::FocusOption(std::size_t option) { Focus(Option.at(option)); }

void MainForm::Close() { PostMessageW(Handle(), WM_CLOSE, 0, 0); }

std::string MainForm::EntryText() const { return Text(Text1); }
void MainForm::SetEntryText(const std::string& text) { SetText(Text1, text); }
void MainForm::FocusEntry() { Focus(Text1); }
std::string MainForm::FormatCaption() const { return Text(Command1); }
void MainForm::SetFormatCaption(const std::string& caption) { SetText(Command1, caption); }

LRESULT CALLBACK MainForm::Text1Procedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR form) {
  switch (message) {
    case WM_GETDLGCODE: {
      // Enter belongs to the box, so that it arrives as a key press and not as a default
      // button's command.
      const auto* key = reinterpret_cast<const MSG*>(lParam);
      LRESULT code = DefSubclassProc(box, message, wParam, lParam);
      if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN) code |= DLGC_WANTALLKEYS;
      return code;
    }
    case WM_CHAR: {
      auto keyAscii = static_cast<std::int16_t>(wParam);
      reinterpret_cast<MainForm*>(form)->Text1_KeyPress(keyAscii);
      if (wParam == '\r') return 0;  // a one-line box inserts nothing for Enter
      break;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(box, &MainForm::Text1Procedure, 0);
      break;
    default:
      break;
  }
  return DefSubclassProc(box, message, wParam, lParam);
}

LRESULT MainForm::Procedure(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == kMnuAbout && HIWORD(wParam) == 0) {
        MnuAbout_Click();
      } else if (id == kMnuExit && HIWORD(wParam) == 0) {
        MnuExit_Click();
      } else if (HIWORD(wParam) == BN_CLICKED && id >= kOptionId &&
                 id < kOptionId + static_cast<int>(Option.size())) {
        Option_Click(static_cast<std::size_t>(id - kOptionId));
      } else if (HIWORD(wParam) == BN_CLICKED && id == kCommand2Id) {
        Command2_Click();
      } else if (HIWORD(wParam) == BN_CLICKED && id == kCommand1Id) {
        Command1_Click();
      }
      return 0;
    }
    case WM_CLOSE: {
      int cancel = 0;
      Form_Unload(cancel);  // ends the program; the window is hidden, not destroyed
      return 0;
    }
    default:
      break;
  }
  return Window::Procedure(message, wParam, lParam);
}

}  // namespace kt::win32
