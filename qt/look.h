// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>

#include "forms/design.h"

class QWidget;

// The shared look of the program's windows: fixed twip layouts, the blue background with
// white captions, and bold "MS Sans Serif".
namespace kt::ui {

using forms::design::kTwipsPerPixel;

/// A rectangle given in twips (left, top, width, height), in pixels; Qt scales pixels for
/// high-DPI screens.
constexpr QRect Twips(int left, int top, int width, int height) {
  return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
          height / kTwipsPerPixel};
}
constexpr QRect Twips(const forms::design::Twips& place) {
  return Twips(place.Left, place.Top, place.Width, place.Height);
}

/// A colour given in the 0x00BBGGRR form.
QColor FromBgr(unsigned bgr);

/// Bold "MS Sans Serif" at the given size; platforms without it get a metric-close sans.
QFont SansSerif(double points);

/// Registers the substitutes for "MS Sans Serif"; call once before any window is made.
void InstallFontSubstitutes();

/// The blue background and white frame, option and label captions of the evaluation windows.
void ApplyBlueLook(QWidget& form);

/// Centres a top-level window on its screen.
void CentreOnScreen(QWidget& form);

/// The program's icon, 32 × 32.
QIcon ProgramIcon();

/// The program's name, the caption of a message box that gives none of its own.
QString ApplicationTitle();

}  // namespace kt::ui
