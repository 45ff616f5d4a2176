// SPDX-License-Identifier: MIT
#include "qt/about_form.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "forms/design.h"
#include "qt/controls.h"
#include "qt/look.h"
#include "qt/message_box.h"

namespace kt::ui {

namespace design = forms::design::about;

namespace {

QLabel* MakeLabel(const char* text, const forms::design::Twips& place, QWidget* parent) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setGeometry(Twips(place));
  label->setFont(SansSerif(forms::design::about::kLabelPoints));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  return label;
}

// A line of the etched separator: its thickness in whole pixels.
QFrame* MakeLine(const forms::design::Twips& place, const QColor& colour, QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setGeometry(Twips(place));
  line->setAutoFillBackground(true);
  QPalette palette = line->palette();
  palette.setColor(QPalette::Window, colour);
  line->setPalette(palette);
  return line;
}

}  // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent), logic_(*this) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QString::fromLatin1(design::kCaption));
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(Twips(design::kClient).size());
  QFont face = SansSerif(design::kLabelPoints);  // the window's own face, which the buttons use
  face.setBold(false);
  setFont(face);

  // The picture box takes the focus in its turn; the room around the icon shows the mark.
  picIcon = new FocusablePicture(this);
  picIcon->setPixmap(ProgramIcon().pixmap(32, 32));
  picIcon->setAlignment(Qt::AlignCenter);
  picIcon->setGeometry(Twips(design::kPicIconPlace));
  // OK is the default button; Enter on System Info runs System Info, as a focused button
  // takes Enter for itself.
  cmdOK = new QPushButton(QString::fromLatin1(design::kCmdOK), this);
  cmdOK->setGeometry(Twips(design::kCmdOKPlace));
  cmdOK->setDefault(true);
  cmdSysInfo = new QPushButton(QString::fromLatin1(design::kCmdSysInfo), this);
  cmdSysInfo->setGeometry(Twips(design::kCmdSysInfoPlace));
  cmdSysInfo->setAutoDefault(true);
  picIcon->setObjectName(QStringLiteral("picIcon"));
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
  Label1 = MakeLabel(design::kLabel1, design::kLabel1Place, this);
  Line1_1 = MakeLine(design::kLine1Grey, QColor(128, 128, 128), this);
  lblDescription = MakeLabel(design::kDescription, design::kDescriptionPlace, this);
  lblTitle = MakeLabel(design::kTitle, design::kTitlePlace, this);
  Line1_0 = MakeLine(design::kLine1White, Qt::white, this);
  lblVersion = MakeLabel(design::kVersion, design::kVersionPlace, this);
  Line1_1->raise();  // the grey line sits above the white one, as an etched separator

  SetTabOrder({cmdOK, picIcon, cmdSysInfo});
  connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
  connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
  cmdOK->setFocus();
  Form_Load();
}

void frmAbout::SetVersionText(const std::string& text) {
  lblVersion->setText(QString::fromStdString(text));
}

void frmAbout::MsgBox(const std::string& text, int style, const std::string& caption) {
  ui::MsgBox(this, text, style, caption);
}

}  // namespace kt::ui
