// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class QWidget;

namespace kt::ui {

/// Message box styles, as their values add up: an OK button alone, and the warning icon.
inline constexpr int kOkOnly = 0;
inline constexpr int kExclamation = 48;

/// Shows a modal message box with the text, the style's icon and an OK button, captioned
/// with `caption` or, when that is empty, the application title. Returns when it is closed.
void MsgBox(QWidget* owner, const QString& text, int style, const QString& caption = {});

/// How the windows report a run-time error they caught: its message, titled "Error".
void ShowError(QWidget* owner, const char* message);

}  // namespace kt::ui
