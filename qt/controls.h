// SPDX-License-Identifier: MIT
#pragma once

#include <QRadioButton>
#include <QWidget>
#include <initializer_list>

// How the windows wire their controls to handlers named after control and event.
namespace kt::ui {

/// Runs the handler whenever the option button becomes the selected one, by the user or
/// from code; a click on the option already selected does not run it again. (Qt's
/// clicked() would miss selections made from code, which the load handlers rely on.)
template <typename Form>
void OnSelected(QRadioButton* option, Form* form, void (Form::*handler)()) {
  QObject::connect(option, &QRadioButton::toggled, form, [form, handler](bool on) {
    if (on) (form->*handler)();
  });
}

/// Sets the tab order: the widgets in the order of their tab indices.
inline void SetTabOrder(std::initializer_list<QWidget*> widgets) {
  QWidget* previous = nullptr;
  for (QWidget* widget : widgets) {
    if (previous) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

}  // namespace kt::ui
