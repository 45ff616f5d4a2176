// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "forms/desktop.h"

class QWidget;

namespace kt::ui {

using forms::kExclamation;
using forms::kOkOnly;

/// Shows a modal message box with the text, the style's icon and an OK button, captioned
/// with `caption` or, when that is empty, the application title. Returns when it is closed.
void MsgBox(QWidget* owner, const std::string& text, int style, const std::string& caption = {});

}  // namespace kt::ui
