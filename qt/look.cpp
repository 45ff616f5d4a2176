// SPDX-License-Identifier: MIT
#include "qt/look.h"

#include <QApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace kt::ui {

QColor FromBgr(unsigned bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

QFont SansSerif(double points) {
  QFont font(QString::fromLatin1(forms::design::kFace));
  font.setPointSizeF(points);
  font.setBold(true);
  return font;
}

void InstallFontSubstitutes() {
  // Liberation Sans is installed with the program's dependencies; the rest are the usual
  // sans faces of other systems.
  QFont::insertSubstitutions(
      QString::fromLatin1(forms::design::kFace),
      {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
       QStringLiteral("Arial"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
}

void ApplyBlueLook(QWidget& form) {
  QPalette palette = form.palette();
  palette.setColor(QPalette::Window, FromBgr(forms::design::kBlue));
  palette.setColor(QPalette::WindowText, Qt::white);
  form.setPalette(palette);
  form.setAutoFillBackground(true);
}

void CentreOnScreen(QWidget& form) {
  if (const QScreen* screen = form.screen()) {
    QRect frame = form.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    form.move(frame.topLeft());
  }
}

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/kt310/kt310.png")); }

QString ApplicationTitle() { return QApplication::applicationName(); }

}  // namespace kt::ui
