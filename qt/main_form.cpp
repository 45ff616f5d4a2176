// SPDX-License-Identifier: MIT
#include "qt/main_form.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <limits>

#include "dac/power_down.h"
#include "forms/design.h"
#include "qt/controls.h"
#include "qt/desktop.h"
#include "qt/look.h"
#include "qt/message_box.h"

namespace kt::ui {

namespace design = forms::design::main;

MainForm::MainForm(AppState& app) : logic_(app, TheBoard(), Windows(), *this) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QString::fromLatin1(design::kCaption));
  setWindowIcon(ProgramIcon());
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);

  MnuFile = menuBar()->addMenu(QString::fromLatin1(design::kMenuFile));
  MnuAbout = MnuFile->addAction(QString::fromLatin1(design::kMenuAbout));
  MnuLine = MnuFile->addSeparator();
  MnuExit = MnuFile->addAction(QString::fromLatin1(design::kMenuExit));

  // The controls keep their designed places; the blue fills whatever the window's size.
  auto* client = new QWidget(this);
  ApplyBlueLook(*client);
  client->setMinimumSize(Twips(design::kClient).size());
  setCentralWidget(client);

  Frame1 = new Frame(QString::fromLatin1(design::kFrame1), client);
  Frame1->setGeometry(Twips(design::kFrame1Place));
  std::array<QRadioButton**, 4> options{&Option1, &Option2, &Option3, &Option4};
  for (std::size_t i = 0; i < options.size(); ++i) {
    auto* option = new QRadioButton(QString::fromLatin1(dac::kPowerDownModes[i].Caption), Frame1);
    option->setGeometry(Twips(design::OptionPlace(i)));
    *options[i] = option;
  }
  Frame2 = new Frame(QString::fromLatin1(design::kFrame2), client);
  Frame2->setGeometry(Twips(design::kFrame2Place));
  Text1 = new QLineEdit(QString::fromLatin1(design::kText1), Frame2);
  Text1->setGeometry(Twips(design::kText1Place));
  Text1->setPalette(QPalette());  // the platform's own text-box colours
  Text1->setFont(SansSerif(design::kTextPoints));
  Text1->setMaxLength(std::numeric_limits<int>::max());  // no limit of its own
  Command1 = new QPushButton(QString::fromLatin1(design::kCommand1), Frame2);
  Command1->setGeometry(Twips(design::kCommand1Place));
  Command2 = new QPushButton(QString::fromLatin1(design::kCommand2), Frame2);
  Command2->setGeometry(Twips(design::kCommand2Place));
  for (QGroupBox* frame : {Frame1, Frame2}) frame->setFont(SansSerif(design::kFramePoints));
  for (QRadioButton* option : {Option1, Option2, Option3, Option4})
    option->setFont(SansSerif(design::kFramePoints));
  for (QPushButton* button : {Command1, Command2}) {
    button->setFont(SansSerif(design::kButtonPoints));
    button->setAutoDefault(false);
    button->setPalette(QPalette());
  }
  resize(sizeHint());
  setMinimumSize(sizeHint());

  SetTabOrder({Option1, Option2, Option3, Option4, Command2, Text1, Command1});

  OnSelected(Option1, this, &MainForm::Option1_Click);
  OnSelected(Option2, this, &MainForm::Option2_Click);
  OnSelected(Option3, this, &MainForm::Option3_Click);
  OnSelected(Option4, this, &MainForm::Option4_Click);
  connect(Command2, &QPushButton::clicked, this, &MainForm::Command2_Click);
  connect(Command1, &QPushButton::clicked, this, &MainForm::Command1_Click);
  connect(MnuAbout, &QAction::triggered, this, &MainForm::MnuAbout_Click);
  connect(MnuExit, &QAction::triggered, this, &MainForm::MnuExit_Click);
  Text1->installEventFilter(this);
  Form_Load();
}

std::array<QRadioButton*, 4> MainForm::Options() const {
  return {Option1, Option2, Option3, Option4};
}

void MainForm::SelectOption(std::size_t option) { Options().at(option)->setChecked(true); }

void MainForm::FocusOption(std::size_t option) { Options().at(option)->setFocus(); }

void MainForm::MsgBox(const std::string& text, int style, const std::string& caption) {
  ui::MsgBox(this, text, style, caption);
}

void MainForm::closeEvent(QCloseEvent* event) {
  int cancel = 0;
  Form_Unload(cancel);  // does nothing while the program is already ending
  event->accept();
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Text1 && event->type() == QEvent::KeyPress) {
    const QString text = static_cast<QKeyEvent*>(event)->text();
    if (!text.isEmpty()) {
      auto keyAscii = static_cast<std::int16_t>(text.front().unicode());
      Text1_KeyPress(keyAscii);
    }
  }
  return false;  // the box handles every key itself as well
}

std::string MainForm::EntryText() const { return Text1->text().toStdString(); }
void MainForm::SetEntryText(const std::string& text) {
  Text1->setText(QString::fromStdString(text));
}
void MainForm::FocusEntry() { Text1->setFocus(); }
std::string MainForm::FormatCaption() const { return Command1->text().toStdString(); }
void MainForm::SetFormatCaption(const std::string& caption) {
  Command1->setText(QString::fromStdString(caption));
}

}  // namespace kt::ui
