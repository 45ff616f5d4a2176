// SPDX-License-Identifier: MIT
// The windows, driven as a user drives them (offscreen), through the real bindings and the
// simulated board; what reached the board is read from its trace.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>

#include "fakes/fake_registry.h"
#include "qt/about_form.h"
#include "qt/desktop.h"
#include "qt/device_form.h"
#include "qt/look.h"
#include "qt/main_form.h"
#include "qt/spi_form.h"
#include "tests/qt/window_support.h"
#include "tests/support/test_support.h"

namespace kt::ui {
namespace {

// Clicks an option button on its indicator, where a user clicks it.
void Click(QRadioButton* option) {
  QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(8, option->height() / 2));
}

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForms();
    Main(link::ProgramBoard());
  }
  void TearDown() override { ResetForms(); }

  DeviceForm& Device() { return *ExistingDeviceForm(); }

  // OK in the device window with the given model; the main window afterwards.
  MainForm& Connect(QRadioButton* DeviceForm::*option) {
    Click(Device().*option);
    QTest::mouseClick(Device().Command1, Qt::LeftButton);
    EXPECT_NE(ExistingMainForm(), nullptr);
    return *ExistingMainForm();
  }

  test::Trace trace_;
};

TEST_F(Windows, StartUpOpensTheDeviceWindowWithTheKT300Chosen) {
  EXPECT_TRUE(Device().isVisible());
  EXPECT_EQ(Device().windowTitle(), "KT31X / KT300");
  EXPECT_TRUE(Device().Option1->isChecked());
  EXPECT_EQ(Device().focusWidget(), Device().Option1);
  EXPECT_EQ(App().EntryFormat, "Hex");
  EXPECT_EQ(App().FrameBits, 16);
  EXPECT_EQ(App().DataBits, 14);
  EXPECT_TRUE(trace_.Records().empty());
}

TEST_F(Windows, EachDeviceChoiceSetsFrameAndDataBits) {
  const std::pair<QRadioButton * DeviceForm::*, std::pair<int, int>> rows[] = {
      {&DeviceForm::Option4, {24, 16}}, {&DeviceForm::Option1, {16, 14}},
      {&DeviceForm::Option5, {24, 16}}, {&DeviceForm::Option2, {24, 16}},
      {&DeviceForm::Option3, {24, 16}},
  };
  for (const auto& [option, bits] : rows) {
    Click(Device().*option);
    EXPECT_EQ((std::pair<int, int>(App().FrameBits, App().DataBits)), bits);
  }
  // The arrow keys move the choice within the group.
  Device().Option1->setChecked(true);
  Device().activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Device()));
  Device().Option1->setFocus();
  QTest::keyClick(Device().Option1, Qt::Key_Down);
  EXPECT_TRUE(Device().Option2->isChecked());
  EXPECT_EQ(App().FrameBits, 24);
}

TEST_F(Windows, SuccessfulOkOpensTheMainWindowAfterExactlyOneFrame) {
  MainForm& main = Connect(&DeviceForm::Option3);
  EXPECT_FALSE(Device().isVisible());
  EXPECT_TRUE(main.isVisible());
  EXPECT_TRUE(main.Option1->isChecked());
  EXPECT_EQ(main.Text1->text(), "0000");
  EXPECT_EQ(main.Command1->text(), "Hex");
  EXPECT_EQ(main.focusWidget(), main.Option1);
  const auto frames = trace_.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]["word"], 0);
  EXPECT_EQ(frames[0]["frame_bits"], 24);
}

TEST_F(Windows, FailedOkWarnsAndStaysOpenEveryTime) {
  test::ScopedEnv failing("KT_SIM_LOAD_STATUS", test::FailingLoad());
  test::MessageBoxAnswerer answerer;
  for (int i = 0; i < 3; ++i) QTest::mouseClick(Device().Command1, Qt::LeftButton);
  ASSERT_EQ(answerer.Seen().size(), 3u);
  for (const auto& seen : answerer.Seen()) {
    EXPECT_EQ(seen.Text, "Communication Failure - Check USB connections");
    EXPECT_EQ(seen.Title, "Error");
    EXPECT_EQ(seen.Icon, QMessageBox::Warning);
  }
  EXPECT_TRUE(Device().isVisible());
  EXPECT_EQ(ExistingMainForm(), nullptr);
  EXPECT_TRUE(trace_.Frames().empty());
  if (test::Generation() == 2)
    EXPECT_EQ(trace_.Entries().size(), 9u) << "three searches, connects and downloads";
  else
    EXPECT_EQ(trace_.Entries().size(), 3u) << "three loads";
}

TEST_F(Windows, FirstGenerationTakesAPositiveLoadStatusAsSuccess) {
  if (test::Generation() != 1) GTEST_SKIP() << "the second generation takes only 0";
  test::ScopedEnv positive("KT_SIM_LOAD_STATUS", "1");
  Connect(&DeviceForm::Option1);
  EXPECT_EQ(TheBoard().LinkStatus, 0) << "the first frame's status";
  EXPECT_EQ(trace_.Frames().size(), 1u);
}

TEST_F(Windows, PowerDownOptionsSendTheirCodesAboveTheBoxValue) {
  MainForm& main = Connect(&DeviceForm::Option2);
  main.Text1->setText("1234");
  Click(main.Option2);  // 100 kOhm to GND
  Click(main.Option3);  // Tri - State
  Click(main.Option4);  // 1 kOhm to GND
  Click(main.Option1);  // Normal
  const auto frames = trace_.Frames();
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frames[1]["word"], 0x21234);
  EXPECT_EQ(frames[2]["word"], 0x11234);
  EXPECT_EQ(frames[2]["index"], 0x1801);
  EXPECT_EQ(frames[3]["word"], 0x31234);
  EXPECT_EQ(frames[4]["word"], 0x01234);
  // On screen Tri - State stands second, above 100 kOhm to GND.
  EXPECT_LT(main.Option3->y(), main.Option2->y());
}

TEST_F(Windows, ArrowKeysWalkTheOptionsInTheOrderTheyStandOnScreen) {
  MainForm& main = Connect(&DeviceForm::Option2);
  // Down from Normal: Tri - State, 100 kOhm to GND, 1 kOhm to GND; Up back. Each step
  // one frame in that mode.
  const std::pair<Qt::Key, std::pair<QRadioButton*, int>> steps[] = {
      {Qt::Key_Down, {main.Option3, 1}}, {Qt::Key_Down, {main.Option2, 2}},
      {Qt::Key_Down, {main.Option4, 3}}, {Qt::Key_Up, {main.Option2, 2}},
      {Qt::Key_Up, {main.Option3, 1}},   {Qt::Key_Up, {main.Option1, 0}},
  };
  main.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
  main.Option1->setFocus();
  QRadioButton* at = main.Option1;
  for (const auto& [key, expected] : steps) {
    const auto [option, mode] = expected;
    QTest::keyClick(at, key);
    EXPECT_TRUE(option->isChecked()) << option->text().toStdString();
    EXPECT_EQ(trace_.Frames().back()["word"].get<int>() >> 16, mode);
    at = option;
  }
}

TEST_F(Windows, AMessageBoxKeepsEveryOtherWindowOfTheProgramFromInput) {
  MainForm& main = Connect(&DeviceForm::Option2);
  // A click on Update DAC as the window system delivers it, which is what a modal box stops.
  const auto clickUpdate = [&main] {
    QTest::mouseClick(main.windowHandle(), Qt::LeftButton, {},
                      main.Command2->mapTo(&main, main.Command2->rect().center()));
  };
  std::size_t sent = trace_.Frames().size();
  clickUpdate();
  ASSERT_EQ(trace_.Frames().size(), ++sent) << "the click reaches the button";
  QTest::mouseClick(main.windowHandle(), Qt::LeftButton, {}, {});  // nothing there
  test::FakeRegistry nothing;  // System Info is then unavailable: a box
  frmAbout about;
  about.UseRegistry(nothing);
  about.show();
  std::size_t whileOpen = 0;
  test::MessageBoxAnswerer answerer([&] {
    clickUpdate();
    whileOpen = trace_.Frames().size();
  });
  QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_EQ(whileOpen, sent) << "the main window took a click while the box was open";
  clickUpdate();
  EXPECT_EQ(trace_.Frames().size(), sent + 1) << "and takes it again once the box is gone";
}

TEST_F(Windows, EnterRunsOneUpdateAndOtherKeysNone) {
  MainForm& main = Connect(&DeviceForm::Option2);
  main.Text1->clear();
  QTest::keyClicks(main.Text1, "abc");
  EXPECT_EQ(trace_.Frames().size(), 1u);
  QTest::keyClick(main.Text1, Qt::Key_Return);
  const auto frames = trace_.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1]["word"], 0xABC);
  EXPECT_EQ(main.Text1->text(), "0ABC");
}

TEST_F(Windows, FormatButtonConvertsWithoutSendingAndBadEntriesEmptyTheBox) {
  MainForm& main = Connect(&DeviceForm::Option2);
  main.Text1->setText("0ABC");
  QTest::mouseClick(main.Command1, Qt::LeftButton);
  EXPECT_EQ(main.Command1->text(), "Dec");
  EXPECT_EQ(App().EntryFormat, "Dec");
  EXPECT_EQ(main.Text1->text(), "2748");
  EXPECT_EQ(trace_.Frames().size(), 1u);

  QTest::mouseClick(main.Command1, Qt::LeftButton);
  main.Text1->setText("zz");
  QTest::mouseClick(main.Command2, Qt::LeftButton);
  EXPECT_EQ(main.Text1->text(), "");
  EXPECT_EQ(main.focusWidget(), main.Text1);
  EXPECT_EQ(trace_.Frames().size(), 1u);
}

TEST_F(Windows, AboutIsOneInstanceWhileOpenAndFreshAfterClosing) {
  MainForm& main = Connect(&DeviceForm::Option1);
  main.MnuAbout->trigger();
  frmAbout* first = ExistingAbout();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->lblVersion->text(), test::VersionText());
  EXPECT_EQ(first->focusWidget(), first->cmdOK);
  first->lblVersion->setText("not reloaded");
  main.MnuAbout->trigger();
  EXPECT_EQ(ExistingAbout(), first);
  EXPECT_EQ(first->lblVersion->text(), "not reloaded");
  EXPECT_TRUE(main.isVisible()) << "About does not block the main window";

  QTest::mouseClick(first->cmdOK, Qt::LeftButton);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(ExistingAbout(), nullptr);
  main.MnuAbout->trigger();
  EXPECT_EQ(ExistingAbout()->lblVersion->text(), test::VersionText());
}

TEST_F(Windows, AboutTakesTabAndEnterAsDesignedAndReadsNumbersTrimmed) {
  test::FakeRegistry registry;  // no System Information tool: its message shows it ran
  constexpr const char* kKey = R"(SOFTWARE\KT310 Test)";
  registry.Set(kKey, "Number", 4, {0x03, 0x02, 0x01, 0x00});
  struct Row {
    int tabs;                // from OK, where the focus starts
    const char* focused;     // the control Enter goes to
    bool systemInfo, stays;  // what Enter did
  };
  const Row rows[] = {
      {0, "cmdOK", false, false},
      {1, "picIcon", false, false},  // no other button has the focus: OK
      {2, "cmdSysInfo", true, true},
      {3, "cmdOK", false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.focused);
    auto* about = new frmAbout();
    about->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<frmAbout> alive(about);
    about->UseRegistry(registry);
    about->show();
    about->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(about));
    for (int i = 0; i < row.tabs; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), row.focused);
    test::MessageBoxAnswerer answerer;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(answerer.Seen().size(), row.systemInfo ? 1u : 0u);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(!alive.isNull() && alive->isVisible(), row.stays);
    if (alive) {
      std::string value;
      EXPECT_TRUE(alive->GetKeyValue(platform::kLocalMachine, kKey, "Number", value));
      EXPECT_EQ(value, "&h010203") << "the top byte of 0 is trimmed as a terminator";
      delete alive.data();
    }
  }
}

TEST_F(Windows, TheFormsAreBlueToTheirEdgesAndNeverSmallerThanDesigned) {
  MainForm& main = Connect(&DeviceForm::Option2);
  const QSize designed = main.size();
  main.resize(designed * 2);
  const QImage image = main.grab().toImage();
  for (const QPoint corner :
       {QPoint(image.width() - 2, image.height() - 2), QPoint(image.width() - 2, designed.height()),
        QPoint(designed.width(), image.height() - 2)})
    EXPECT_EQ(image.pixelColor(corner), QColor(0, 0, 255)) << corner.x() << "," << corner.y();
  for (QWidget* form : std::initializer_list<QWidget*>{&main, &Device()}) {
    const QSize before = form->minimumSize();
    EXPECT_FALSE(before.isEmpty()) << form->objectName().toStdString();
    form->resize(20, 20);
    EXPECT_EQ(form->size(), before) << form->objectName().toStdString();
  }
  EXPECT_EQ(main.minimumSize(), designed);
}

TEST_F(Windows, TheMenuBarsOverflowArrowIsFusionsOwnAtEveryScale) {
  // The program's style makes these two icons only when first drawn.
  const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
  for (const QStyle::StandardPixmap arrow :
       {QStyle::SP_ToolBarHorizontalExtensionButton, QStyle::SP_ToolBarVerticalExtensionButton}) {
    const QIcon ours = QApplication::style()->standardIcon(arrow);
    const QIcon theirs = fusion->standardIcon(arrow);
    ASSERT_FALSE(ours.isNull()) << arrow;
    EXPECT_EQ(ours.availableSizes(), theirs.availableSizes()) << arrow;
    for (const qreal scale : {1.0, 2.0}) {
      const QPixmap drawn = ours.pixmap(QSize(16, 16), scale);
      EXPECT_EQ(drawn.devicePixelRatio(), scale) << arrow;
      EXPECT_EQ(drawn.toImage(), theirs.pixmap(QSize(16, 16), scale).toImage())
          << arrow << " at " << scale;
    }
  }
}

TEST_F(Windows, ADarkDesktopThemeChangesNoColourOfTheWindows) {
  // A dark theme as a platform theme gives it: for the application, and per kind of control.
  const QPalette dark(QColor(53, 53, 53), QColor(30, 30, 30));
  QApplication::setPalette(dark);
  for (const char* kind : {"QAbstractButton", "QRadioButton", "QLineEdit", "QLabel"})
    QApplication::setPalette(dark, kind);
  ApplyDesignLook();  // as the program does once its application exists
  ResetForms();
  Main(link::ProgramBoard());
  MainForm& main = Connect(&DeviceForm::Option1);
  EXPECT_EQ(main.Option1->palette().color(QPalette::Base), QColor(Qt::white)) << "the disc";
  EXPECT_EQ(main.Option1->palette().color(QPalette::WindowText), QColor(Qt::white));
  EXPECT_EQ(main.Command2->palette().color(QPalette::Button), QColor(240, 240, 240));
  EXPECT_EQ(main.Text1->palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(main.Text1->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(Windows, TheEntryBoxHoldsAnyLength) {
  MainForm& main = Connect(&DeviceForm::Option2);
  const QString typed(40000, QLatin1Char('0'));
  main.Text1->setText(typed + QStringLiteral("12"));
  EXPECT_EQ(main.Text1->text().size(), 40002);
  QTest::keyClick(main.Text1, Qt::Key_Return);
  const auto frames = trace_.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1]["value"], 0x12) << "leading zeros, however many, read as nothing";
}

TEST_F(Windows, ExitAndClosingTheMainWindowEndTheProgramWithAboutOpen) {
  for (bool byMenu : {true, false}) {
    ResetForms();
    Main(link::ProgramBoard());
    MainForm& main = Connect(&DeviceForm::Option1);
    main.MnuAbout->trigger();
    if (byMenu) {
      main.MnuExit->trigger();
    } else {
      main.close();
    }
    EXPECT_TRUE(ProgramEnding());
    EXPECT_EQ(ProgramExitStatus(), 0);
    EXPECT_FALSE(ExistingAbout()->isVisible());
    EXPECT_FALSE(main.isVisible());
  }
}

// The program's own event loop: a successful OK closes the only open window before the
// main window opens, and that must not end the program; closing the device window does.
TEST_F(Windows, OnlyClosingTheLastWindowWithoutOkEndsTheLoop) {
  QTimer::singleShot(0, [this] { QTest::mouseClick(Device().Command1, Qt::LeftButton); });
  QTimer::singleShot(300, [] { QCoreApplication::exit(42); });
  EXPECT_EQ(QApplication::exec(), 42);
  ASSERT_NE(ExistingMainForm(), nullptr);
  EXPECT_TRUE(ExistingMainForm()->isVisible());

  ResetForms();
  Main(link::ProgramBoard());
  const std::size_t calls = trace_.Records().size();
  QTimer::singleShot(0, [this] { Device().close(); });
  QTimer::singleShot(3000, [] { QCoreApplication::exit(42); });
  EXPECT_EQ(QApplication::exec(), 0) << "closing the device window ends the program quietly";
  EXPECT_EQ(trace_.Records().size(), calls) << "and nothing reaches the board";
}

TEST_F(Windows, SpiTestWindowConnectsLightsItsLampAndWritesRawFrames) {
  SPIForm& spi = ShowSpiForm();
  EXPECT_EQ(spi.LampColour(), 65280u) << "green";
  EXPECT_EQ(spi.focusWidget(), spi.Text1);
  QTest::mouseClick(spi.Command1, Qt::LeftButton);
  spi.Text1->setText("12G4");
  spi.Text2->setText("25.5");
  QTest::mouseClick(spi.Command1, Qt::LeftButton);
  auto frames = trace_.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0]["value"], 0xFFFF);
  EXPECT_EQ(frames[0]["index"], 0x18FF);
  EXPECT_EQ(frames[1]["value"], 0x12);
  EXPECT_EQ(frames[1]["frame_bits"], 26);
  EXPECT_EQ(App().FrameBits, 26);

  test::MessageBoxAnswerer answerer;
  spi.Text2->setText("40000");
  QTest::mouseClick(spi.Command1, Qt::LeftButton);
  spi.Text2->setText("24");
  spi.Text1->setText("123456789");
  QTest::mouseClick(spi.Command1, Qt::LeftButton);
  EXPECT_EQ(trace_.Frames().size(), 2u) << "nothing sent for values that do not fit";
  ASSERT_EQ(answerer.Seen().size(), 2u);
  EXPECT_NE(answerer.Seen()[0].Text.find("40000"), std::string::npos);

  spi.close();
  EXPECT_TRUE(ProgramEnding());
}

TEST_F(Windows, SpiTestLampStaysRedWhenTheLoadFails) {
  test::ScopedEnv failing("KT_SIM_LOAD_STATUS", test::FailingLoad());
  EXPECT_EQ(ShowSpiForm().LampColour(), 255u);
}

TEST_F(Windows, SystemInfoStartsTheToolTheRegistryNamesOrSaysItIsUnavailable) {
  constexpr const char* kFirst = R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)";
  constexpr const char* kSecond = R"(SOFTWARE\Microsoft\Shared Tools Location)";
  const std::string tool = test::WriteTempFile("tool with blanks", "#!/bin/sh\nexit 0\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  struct Row {
    const char* what;
    std::function<void(test::FakeRegistry&)> fill;
    bool started;
  };
  const Row rows[] = {
      {"first value names a program", [&](auto& r) { r.SetString(kFirst, "PATH", tool); }, true},
      {"first value names nothing", [&](auto& r) { r.SetString(kFirst, "PATH", "/no/tool"); },
       false},
      {"first value of zero bytes", [&](auto& r) { r.Set(kFirst, "PATH", 1, {}); }, false},
      {"second value names a folder without the tool",
       [&](auto& r) { r.SetString(kSecond, "MSINFO", "/tmp"); }, false},
      {"no value at all", [](auto&) {}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::FakeRegistry registry;
    row.fill(registry);
    frmAbout about;
    about.UseRegistry(registry);
    test::MessageBoxAnswerer answerer;
    QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
    if (row.started) {
      EXPECT_TRUE(answerer.Seen().empty());
    } else {
      ASSERT_EQ(answerer.Seen().size(), 1u);
      EXPECT_EQ(answerer.Seen()[0].Text, "System Information Is Unavailable At This Time");
      EXPECT_EQ(answerer.Seen()[0].Title, QApplication::applicationName().toStdString());
      EXPECT_EQ(answerer.Seen()[0].Icon, QMessageBox::NoIcon);
    }
  }
}

TEST_F(Windows, AnErrorNobodyTrapsEndsTheProgramWithItsMessage) {
  struct Throwing : QObject {
    bool event(QEvent*) override { throw std::runtime_error("library gone"); }
  } receiver;
  test::MessageBoxAnswerer answerer;
  QEvent event(QEvent::User);
  QApplication::sendEvent(&receiver, &event);
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_EQ(answerer.Seen()[0].Text, "Run-time error: library gone");
  EXPECT_TRUE(ProgramEnding());
  EXPECT_EQ(ProgramExitStatus(), 3);
}

}  // namespace
}  // namespace kt::ui
