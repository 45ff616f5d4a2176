// SPDX-License-Identifier: MIT
#include "qt/message_box.h"

#include <QMessageBox>

#include "qt/look.h"

namespace kt::ui {

void MsgBox(QWidget* owner, const std::string& text, int style, const std::string& caption) {
  QMessageBox box(style & kExclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
                  caption.empty() ? ApplicationTitle() : QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok, owner);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace kt::ui
