// SPDX-License-Identifier: MIT
#include "qt/device_form.h"

#include <QEventLoopLocker>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

#include "dac/device_table.h"
#include "forms/design.h"
#include "qt/controls.h"
#include "qt/desktop.h"
#include "qt/look.h"
#include "qt/message_box.h"

namespace kt::ui {

namespace design = forms::design::device;

DeviceForm::DeviceForm(AppState& app) : logic_(app, TheBoard(), Windows(), *this) {
  setObjectName(QStringLiteral("DeviceForm"));
  setWindowTitle(QString::fromLatin1(design::kCaption));
  setWindowIcon(ProgramIcon());
  ApplyBlueLook(*this);
  resize(Twips(design::kClient).size());
  setMinimumSize(size());

  Frame1 = new Frame(QString::fromLatin1(design::kFrame1), this);
  Frame1->setGeometry(Twips(design::kFrame1Place));
  Frame1->setFont(SansSerif(design::kPoints));
  std::array<QRadioButton**, 5> options{&Option1, &Option2, &Option3, &Option4, &Option5};
  for (std::size_t row = 0; row < options.size(); ++row) {
    auto* option = new QRadioButton(QString::fromLatin1(dac::DeviceTable[row].Label), Frame1);
    option->setGeometry(Twips(design::OptionPlace(row)));
    option->setFont(SansSerif(design::kPoints));
    *options[row] = option;
  }
  Command1 = new QPushButton(QString::fromLatin1(design::kCommand1), this);
  Command1->setGeometry(Twips(design::kCommand1Place));
  Command1->setFont(SansSerif(design::kPoints));
  Command1->setAutoDefault(false);

  SetTabOrder({Option1, Option2, Option3, Option4, Option5, Command1});

  OnSelected(Option1, this, &DeviceForm::Option1_Click);
  OnSelected(Option2, this, &DeviceForm::Option2_Click);
  OnSelected(Option3, this, &DeviceForm::Option3_Click);
  OnSelected(Option4, this, &DeviceForm::Option4_Click);
  OnSelected(Option5, this, &DeviceForm::Option5_Click);
  connect(Command1, &QPushButton::clicked, this, &DeviceForm::Command1_Click);
  Form_Load();
}

void DeviceForm::Command1_Click() {
  // Closing the only window would end the program before the main window opens.
  const QEventLoopLocker keepRunning;
  logic_.Command1_Click();
}

std::array<QRadioButton*, 5> DeviceForm::Options() const {
  return {Option1, Option2, Option3, Option4, Option5};
}

void DeviceForm::SelectOption(std::size_t row) { Options().at(row)->setChecked(true); }

void DeviceForm::FocusOption(std::size_t row) { Options().at(row)->setFocus(); }

void DeviceForm::MsgBox(const std::string& text, int style, const std::string& caption) {
  ui::MsgBox(this, text, style, caption);
}

}  // namespace kt::ui
