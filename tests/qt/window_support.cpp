// SPDX-License-Identifier: MIT
#include "tests/qt/window_support.h"

#include <QAbstractButton>
#include <QApplication>

namespace kt::test {

MessageBoxAnswerer::MessageBoxAnswerer(std::function<void()> whileOpen)
    : whileOpen_(std::move(whileOpen)) {
  timer_.setInterval(5);
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      seen_.push_back({box->text().toStdString(), box->windowTitle().toStdString(), box->icon()});
      if (whileOpen_) whileOpen_();
      box->button(QMessageBox::Ok)->click();
    }
  });
  timer_.start();
}

}  // namespace kt::test
