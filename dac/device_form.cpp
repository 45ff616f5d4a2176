// SPDX-License-Identifier: MIT
#include "dac/device_form.h"

#include <QEventLoopLocker>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

#include "core/error.h"
#include "dac/device_table.h"
#include "link/board_link.h"
#include "windows/controls.h"
#include "windows/forms.h"
#include "windows/look.h"
#include "windows/message_box.h"

namespace kt::ui {

DeviceForm::DeviceForm(AppState& app) : app_(app) {
  setObjectName(QStringLiteral("DeviceForm"));
  setWindowTitle(QStringLiteral("KT31X / KT300"));
  setWindowIcon(ProgramIcon());
  ApplyBlueLook(*this);
  resize(Twips(0, 0, 3135, 3000).size());

  Frame1 = new QGroupBox(QStringLiteral("Select Device"), this);
  Frame1->setGeometry(Twips(120, 120, 2895, 2280));
  Frame1->setFont(SansSerif(9.75));
  std::array<QRadioButton**, 5> options{&Option1, &Option2, &Option3, &Option4, &Option5};
  for (std::size_t row = 0; row < options.size(); ++row) {
    auto* option = new QRadioButton(QString::fromLatin1(dac::DeviceTable[row].Label), Frame1);
    option->setGeometry(Twips(360, 360 + static_cast<int>(row) * 360, 2295, 315));
    option->setFont(SansSerif(9.75));
    *options[row] = option;
  }
  Command1 = new QPushButton(QStringLiteral("OK"), this);
  Command1->setGeometry(Twips(1020, 2520, 1095, 405));
  Command1->setFont(SansSerif(9.75));
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

void DeviceForm::Form_Load() {
  Option1->setChecked(true);
  Option1->setFocus();
}

void DeviceForm::SelectRow(std::size_t row) { dac::SelectDevice(app_, dac::DeviceTable[row]); }
void DeviceForm::Option1_Click() { SelectRow(0); }
void DeviceForm::Option2_Click() { SelectRow(1); }
void DeviceForm::Option3_Click() { SelectRow(2); }
void DeviceForm::Option4_Click() { SelectRow(3); }
void DeviceForm::Option5_Click() { SelectRow(4); }

void DeviceForm::Command1_Click() {
  std::int16_t status = 0;
  try {
    status = link::ConnectAndLoadFirmware(app_);
  } catch (const Error& error) {
    // A missing library or entry, or a path that does not fit: say what, and stay open.
    ShowError(this, error.what());
    return;
  }
  if (!link::ConnectionSucceeded(status)) {
    MsgBox(this, QStringLiteral("Communication Failure - Check USB connections"), kExclamation,
           QStringLiteral("Error"));
    return;
  }
  // Closing the only window would end the program before the main window opens.
  const QEventLoopLocker keepRunning;
  close();
  ShowMainForm();
}

}  // namespace kt::ui
