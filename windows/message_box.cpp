// SPDX-License-Identifier: MIT
#include "windows/message_box.h"

#include <QMessageBox>

#include "windows/look.h"

namespace kt::ui {

void MsgBox(QWidget* owner, const QString& text, int style, const QString& caption) {
  QMessageBox box(style & kExclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                  caption.isEmpty() ? ApplicationTitle() : caption, text, QMessageBox::Ok, owner);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void ShowError(QWidget* owner, const char* message) {
  MsgBox(owner, QString::fromUtf8(message), kExclamation, QStringLiteral("Error"));
}

}  // namespace kt::ui
