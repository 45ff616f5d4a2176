// SPDX-License-Identifier: MIT
#include "dac/main_form.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>

#include "dac/power_down.h"
#include "windows/controls.h"
#include "windows/forms.h"
#include "windows/look.h"
#include "windows/program_end.h"

namespace kt::ui {

MainForm::MainForm(AppState& app) : app_(app) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("KT31X / KT300"));
  setWindowIcon(ProgramIcon());
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);

  MnuFile = menuBar()->addMenu(QStringLiteral("&File"));
  MnuAbout = MnuFile->addAction(QStringLiteral("About"));
  MnuLine = MnuFile->addSeparator();
  MnuExit = MnuFile->addAction(QStringLiteral("E&xit"));

  auto* client = new QWidget(this);
  ApplyBlueLook(*client);
  client->setFixedSize(Twips(0, 0, 3615, 4185).size());
  setCentralWidget(client);

  Frame1 = new QGroupBox(QStringLiteral("Select Power Down Mode"), client);
  Frame1->setGeometry(Twips(120, 120, 3375, 1995));
  // On screen the modes stand in the order Normal, Tri - State, 100 kOhm, 1 kOhm.
  const int row[] = {0, 2, 1, 3};
  std::array<QRadioButton**, 4> options{&Option1, &Option2, &Option3, &Option4};
  for (std::size_t i = 0; i < options.size(); ++i) {
    auto* option = new QRadioButton(QString::fromLatin1(dac::kPowerDownModes[i].Caption), Frame1);
    option->setGeometry(Twips(240, 360 + row[i] * 360, 3015, 315));
    *options[i] = option;
  }
  Frame2 = new QGroupBox(QStringLiteral("Enter DAC Data"), client);
  Frame2->setGeometry(Twips(120, 2235, 3375, 1830));
  Text1 = new QLineEdit(QStringLiteral("0"), Frame2);
  Text1->setGeometry(Twips(240, 420, 1935, 465));
  Text1->setPalette(QPalette());  // the platform's own text-box colours
  Text1->setFont(SansSerif(12));
  Command1 = new QPushButton(QStringLiteral("Hex"), Frame2);
  Command1->setGeometry(Twips(2295, 420, 960, 465));
  Command2 = new QPushButton(QStringLiteral("Update DAC"), Frame2);
  Command2->setGeometry(Twips(870, 1095, 1635, 495));
  for (QGroupBox* frame : {Frame1, Frame2}) frame->setFont(SansSerif(9.75));
  for (QRadioButton* option : {Option1, Option2, Option3, Option4})
    option->setFont(SansSerif(9.75));
  for (QPushButton* button : {Command1, Command2}) {
    button->setFont(SansSerif(8.25));
    button->setAutoDefault(false);
    button->setPalette(QPalette());
  }
  resize(sizeHint());

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

void MainForm::Form_Load() {
  Option1->setChecked(true);
  Option1->setFocus();
}

void MainForm::ChooseMode(std::size_t option) {
  dac::ChoosePowerDown(app_, *this, dac::kPowerDownModes[option].Code);
}
void MainForm::Option1_Click() { ChooseMode(0); }
void MainForm::Option2_Click() { ChooseMode(1); }
void MainForm::Option3_Click() { ChooseMode(2); }
void MainForm::Option4_Click() { ChooseMode(3); }

void MainForm::Command2_Click() { dac::RunUpdate(app_, *this); }

void MainForm::Text1_KeyPress(std::int16_t& keyAscii) {
  if (keyAscii == 13) dac::RunUpdate(app_, *this);
}

void MainForm::Command1_Click() { dac::ToggleFormat(app_, *this); }

void MainForm::MnuAbout_Click() { ShowAbout(); }

void MainForm::MnuExit_Click() { EndProgram(); }

void MainForm::Form_Unload(int&) { EndProgram(); }

void MainForm::closeEvent(QCloseEvent* event) {
  if (!ProgramEnding()) {
    int cancel = 0;
    Form_Unload(cancel);
  }
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
