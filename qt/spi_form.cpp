// SPDX-License-Identifier: MIT
#include "qt/spi_form.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <limits>

#include "forms/design.h"
#include "qt/controls.h"
#include "qt/desktop.h"
#include "qt/look.h"
#include "qt/message_box.h"

namespace kt::ui {

namespace design = forms::design::spi;

SPIForm::SPIForm(AppState& app) : logic_(app, TheBoard(), Windows(), *this) {
  setObjectName(QStringLiteral("SPIForm"));
  setWindowTitle(QString::fromLatin1(design::kCaption));
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  ApplyBlueLook(*this);
  setFixedSize(Twips(design::kClient).size());

  Text2 = new QLineEdit(QString::fromLatin1(design::kText2), this);
  Text2->setGeometry(Twips(design::kText2Place));
  Command1 = new QPushButton(QString::fromLatin1(design::kCommand1), this);
  Command1->setGeometry(Twips(design::kCommand1Place));
  Command1->setFont(SansSerif(design::kButtonPoints));
  Command1->setPalette(QPalette());
  Text1 = new QLineEdit(QString::fromLatin1(design::kText1), this);
  Text1->setGeometry(Twips(design::kText1Place));
  Shape1 = new QFrame(this);
  Shape1->setGeometry(Twips(design::kShape1Place));
  Shape1->setFrameShape(QFrame::Box);
  Shape1->setAutoFillBackground(true);
  Label2 = new QLabel(QString::fromLatin1(design::kLabel2), this);
  Label2->setGeometry(Twips(design::kLabel2Place));
  Label1 = new QLabel(QString::fromLatin1(design::kLabel1), this);
  Label1->setGeometry(Twips(design::kLabel1Place));
  for (QWidget* widget : std::initializer_list<QWidget*>{Text1, Text2, Label1, Label2})
    widget->setFont(SansSerif(design::kPoints));
  for (QLineEdit* box : {Text1, Text2}) {
    box->setPalette(QPalette());
    box->setMaxLength(std::numeric_limits<int>::max());
  }

  SetTabOrder({Text1, Command1, Text2});
  connect(Command1, &QPushButton::clicked, this, &SPIForm::Command1_Click);
  Text1->setFocus();
  Form_Load();
}

std::string SPIForm::BitsText() const { return Text2->text().toStdString(); }

std::string SPIForm::DataText() const { return Text1->text().toStdString(); }

void SPIForm::SetLamp(unsigned colour) {
  QPalette palette = Shape1->palette();
  palette.setColor(QPalette::Window, FromBgr(colour));
  Shape1->setPalette(palette);
}

void SPIForm::MsgBox(const std::string& text, int style, const std::string& caption) {
  ui::MsgBox(this, text, style, caption);
}

void SPIForm::closeEvent(QCloseEvent* event) {
  int cancel = 0;
  Form_Unload(cancel);  // does nothing while the program is already ending
  event->accept();
}

}  // namespace kt::ui
