// SPDX-License-Identifier: MIT
#include "windows/about_form.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "core/error.h"
#include "platform/process.h"
#include "platform/version.h"
#include "windows/look.h"
#include "windows/message_box.h"

namespace kt::ui {

namespace {

QLabel* MakeLabel(const QString& text, QRect place, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(place);
  label->setFont(SansSerif(8.25));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  return label;
}

QFrame* MakeLine(QRect place, const QColor& colour, QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setGeometry(place);
  line->setAutoFillBackground(true);
  QPalette palette = line->palette();
  palette.setColor(QPalette::Window, colour);
  line->setPalette(palette);
  return line;
}

}  // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent), registry_(&platform::SystemRegistry()) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About KT31X / KT300"));
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(Twips(0, 0, 5730, 3555).size());
  QFont face = SansSerif(8.25);  // the window's own face, which the buttons use
  face.setBold(false);
  setFont(face);

  picIcon = new QLabel(this);
  picIcon->setPixmap(ProgramIcon().pixmap(32, 32));
  picIcon->setGeometry(QRect(Twips(240, 240, 540, 540).topLeft(), QSize(32, 32)));
  cmdOK = new QPushButton(QStringLiteral("OK"), this);
  cmdOK->setGeometry(Twips(4245, 2625, 1260, 345));
  cmdOK->setDefault(true);
  cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
  cmdSysInfo->setGeometry(Twips(4260, 3075, 1245, 345));
  cmdSysInfo->setAutoDefault(false);
  Label1 = MakeLabel(QStringLiteral("www.corvane.example"), Twips(1080, 1920, 3885, 225), this);
  Line1_1 =
      MakeLine(QRect(90 / kTwipsPerPixel, 2445 / kTwipsPerPixel, (5654 - 90) / kTwipsPerPixel, 1),
               QColor(128, 128, 128), this);
  lblDescription = MakeLabel(
      QStringLiteral("The latest version of all Corvane Software is available from our WebSite"),
      Twips(1050, 1200, 3885, 450), this);
  lblTitle = MakeLabel(QStringLiteral("KT310 / KT311 / KT312 / KT313 / KT300 Evaluation Software"),
                       Twips(1050, 240, 3885, 480), this);
  Line1_0 =
      MakeLine(QRect(105 / kTwipsPerPixel, 2460 / kTwipsPerPixel, (5654 - 105) / kTwipsPerPixel, 2),
               Qt::white, this);
  lblVersion = MakeLabel(QStringLiteral("Version"), Twips(1050, 840, 3885, 225), this);
  Line1_1->raise();  // the grey line sits above the white one, as an etched separator

  setTabOrder(cmdOK, cmdSysInfo);
  connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
  connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
  cmdOK->setFocus();
  Form_Load();
}

void frmAbout::Form_Load() {
  const platform::FileVersion version = platform::ProgramFileVersion();
  lblVersion->setText(QStringLiteral("Version %1.%2.%3")
                          .arg(version.Major)
                          .arg(version.Minor)
                          .arg(version.Revision));
}

void frmAbout::cmdOK_Click() { close(); }

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }

bool frmAbout::GetKeyValue(std::uint32_t KeyRoot, const std::string& KeyName,
                           const std::string& SubKeyRef, std::string& KeyVal) {
  return platform::GetKeyValue(*registry_, KeyRoot, KeyName, SubKeyRef, KeyVal);
}

void frmAbout::StartSysInfo() {
  bool started = false;
  try {
    std::string path;
    if (GetKeyValue(platform::kLocalMachine, R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)", "PATH",
                    path)) {
      started = platform::StartProgram(path);
    } else if (GetKeyValue(platform::kLocalMachine, R"(SOFTWARE\Microsoft\Shared Tools Location)",
                           "MSINFO", path) &&
               platform::FileExists(path + R"(\MSINFO32.EXE)")) {
      started = platform::StartProgram(path + R"(\MSINFO32.EXE)");
    }
  } catch (const Error&) {
    started = false;  // every way the tool cannot be had ends in the one message below
  }
  if (!started)
    MsgBox(this, QStringLiteral("System Information Is Unavailable At This Time"), kOkOnly);
}

}  // namespace kt::ui
