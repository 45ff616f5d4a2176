// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
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

/// The windows' fixed look, whatever the desktop's theme: the Fusion style with its light
/// palette, and a focus mark every control shows plainly, a dotted rectangle in the
/// control's text colour (white on the blue forms, black on buttons). Call once, before any
/// window is made.
void ApplyDesignLook();

/// The blue background and white frame, option and label captions of the evaluation windows.
void ApplyBlueLook(QWidget& form);

/// @brief A frame as the design draws it: a line in the caption colour, with the caption
/// set on the line over the form's own background.
class Frame : public QGroupBox {
 public:
  Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

 protected:
  void paintEvent(QPaintEvent* event) override;
};

/// @brief A picture that takes the focus in its turn and shows it, as the About window's
/// icon does.
class FocusablePicture : public QLabel {
 public:
  explicit FocusablePicture(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

/// Centres a top-level window on its screen.
void CentreOnScreen(QWidget& form);

/// The program's icon, drawn at each size from 16 to 256 pixels, so that it stays sharp at
/// any scale. One icon for every window; each size is decoded when first asked for and kept.
QIcon ProgramIcon();

/// The program's name, the caption of a message box that gives none of its own.
QString ApplicationTitle();

}  // namespace kt::ui
