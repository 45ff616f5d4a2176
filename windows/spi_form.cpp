// SPDX-License-Identifier: MIT
#include "windows/spi_form.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/error.h"
#include "dac/raw_frame.h"
#include "link/board_link.h"
#include "windows/controls.h"
#include "windows/look.h"
#include "windows/message_box.h"
#include "windows/program_end.h"

namespace kt::ui {

SPIForm::SPIForm(AppState& app) : app_(app) {
  setObjectName(QStringLiteral("SPIForm"));
  setWindowTitle(QStringLiteral("SPI Form"));
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  ApplyBlueLook(*this);
  setFixedSize(Twips(0, 0, 4020, 1770).size());

  Text2 = new QLineEdit(QStringLiteral("24"), this);
  Text2->setGeometry(Twips(2880, 120, 975, 375));
  Command1 = new QPushButton(QStringLiteral("SPI Write"), this);
  Command1->setGeometry(Twips(120, 1080, 1455, 375));
  Command1->setFont(SansSerif(8.25));
  Command1->setPalette(QPalette());
  Text1 = new QLineEdit(QStringLiteral("FFFFFF"), this);
  Text1->setGeometry(Twips(2880, 600, 975, 375));
  Shape1 = new QFrame(this);
  Shape1->setGeometry(Twips(0, 0, 135, 135));
  Shape1->setFrameShape(QFrame::Box);
  Shape1->setAutoFillBackground(true);
  Label2 = new QLabel(QStringLiteral("SPI Data"), this);
  Label2->setGeometry(Twips(120, 600, 2655, 375));
  Label1 = new QLabel(QStringLiteral("No. Of Bits in SPI Frame"), this);
  Label1->setGeometry(Twips(120, 120, 2655, 375));
  for (QWidget* widget : std::initializer_list<QWidget*>{Text1, Text2, Label1, Label2})
    widget->setFont(SansSerif(9.75));
  for (QLineEdit* box : {Text1, Text2}) box->setPalette(QPalette());

  SetTabOrder({Text1, Command1, Text2});
  connect(Command1, &QPushButton::clicked, this, &SPIForm::Command1_Click);
  Text1->setFocus();
  Form_Load();
}

void SPIForm::SetLamp(unsigned colour) {
  lampColour_ = colour;
  QPalette palette = Shape1->palette();
  palette.setColor(QPalette::Window, FromBgr(colour));
  Shape1->setPalette(palette);
}

void SPIForm::Form_Load() {
  SetLamp(kRed);
  try {
    if (link::ConnectionSucceeded(link::ConnectSpiTest(app_))) SetLamp(kGreen);
  } catch (const Error& error) {
    ShowError(this, error.what());  // the lamp stays red
  }
}

void SPIForm::Command1_Click() {
  dac::RawFrame frame{};
  try {
    frame = dac::ReadRawFrame(Text2->text().toStdString(), Text1->text().toStdString());
  } catch (const Error& error) {
    ShowError(this, error.what());  // nothing is sent
    return;
  }
  app_.FrameBits = frame.FrameBits;
  app_.DacWord = frame.Word;
  link::SendSpiWord(app_, app_.FrameBits, app_.DacWord);
}

void SPIForm::Form_Unload(int&) { EndProgram(); }

void SPIForm::closeEvent(QCloseEvent* event) {
  if (!ProgramEnding()) {
    int cancel = 0;
    Form_Unload(cancel);
  }
  event->accept();
}

}  // namespace kt::ui
