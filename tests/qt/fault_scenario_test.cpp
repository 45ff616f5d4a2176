// SPDX-License-Identifier: MIT
// One user session under one fault: choose the KT310, press OK, type 1234 and Enter.
// The fault (a library that is missing or lacks an entry, no board, a firmware file that is
// missing or corrupt, a program folder whose path does not fit, a forced status, a slow
// library) is laid out by the test that runs this program; what the user must see and what
// must reach the board arrive in these variables:
//   KT_EXPECT_MESSAGE  text the OK must show (a part of it), or empty: the main window opens
//   KT_EXPECT_ENTRIES  the library entries the OK calls, comma-separated, in order
//   KT_EXPECT_BOX      the entry box after the first update ("0000", or "" when it traps)
//   KT_EXPECT_STATUS   LinkStatus after typing 1234 and Enter
//   KT_EXPECT_SPI_TOO  1: the SPI test window's load and write show the OK's message as well
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cstdlib>

#include "qt/desktop.h"
#include "qt/device_form.h"
#include "qt/main_form.h"
#include "qt/spi_form.h"
#include "tests/qt/window_support.h"
#include "tests/support/test_support.h"

namespace kt::ui {
namespace {

std::string Expected(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    items.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

TEST(Fault, UserSeesItsHandlingTheBoardSeesNothingElseAndTheProgramStaysUsable) {
  test::Trace trace;
  test::MessageBoxAnswerer answerer;
  Main(link::ProgramBoard());
  DeviceForm& device = *ExistingDeviceForm();
  QTest::mouseClick(device.Option2, Qt::LeftButton, {}, QPoint(8, device.Option2->height() / 2));
  QTest::mouseClick(device.Command1, Qt::LeftButton);
  EXPECT_EQ(trace.Entries(), Split(Expected("KT_EXPECT_ENTRIES")));

  const std::string message = Expected("KT_EXPECT_MESSAGE");
  if (!message.empty()) {
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_NE(answerer.Seen()[0].Text.find(message), std::string::npos) << answerer.Seen()[0].Text;
    EXPECT_EQ(answerer.Seen()[0].Title, "Error");
    EXPECT_EQ(answerer.Seen()[0].Icon, QMessageBox::Warning);
    EXPECT_TRUE(trace.Frames().empty());
    // Still usable: the device window is open and takes another try.
    EXPECT_TRUE(device.isVisible());
    EXPECT_EQ(ExistingMainForm(), nullptr);
    QTest::mouseClick(device.Command1, Qt::LeftButton);
    EXPECT_EQ(answerer.Seen().size(), 2u);
    if (Expected("KT_EXPECT_SPI_TOO") != "1") return;

    // The SPI test window shows the same message at its load and at each write, and stays.
    SPIForm& spi = ShowSpiForm();
    QTest::mouseClick(spi.Command1, Qt::LeftButton);
    ASSERT_EQ(answerer.Seen().size(), 4u);
    for (std::size_t box = 2; box < 4; ++box) {
      EXPECT_EQ(answerer.Seen()[box].Text, answerer.Seen()[0].Text);
      EXPECT_EQ(answerer.Seen()[box].Title, "Error");
    }
    EXPECT_NE(answerer.Seen()[0].Text.find("Install the board maker's software"),
              std::string::npos);
    EXPECT_TRUE(spi.isVisible());
    EXPECT_FALSE(ProgramEnding());
    EXPECT_TRUE(trace.Records().empty());
    return;
  }

  EXPECT_TRUE(answerer.Seen().empty());
  MainForm* main = ExistingMainForm();
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(main->isVisible());
  EXPECT_EQ(main->Text1->text().toStdString(), Expected("KT_EXPECT_BOX"));

  // Still usable: the next update goes out (or traps again, when sending itself fails).
  main->Text1->setText("1234");
  QTest::keyClick(main->Text1, Qt::Key_Return);
  const bool sends = !Expected("KT_EXPECT_BOX").empty();
  EXPECT_EQ(main->Text1->text(), sends ? "1234" : "");
  if (sends) {
    const auto frames = trace.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1]["value"], 0x1234);
    EXPECT_EQ(frames[1]["index"], 0x1800);
  }
  EXPECT_EQ(std::to_string(TheBoard().LinkStatus), Expected("KT_EXPECT_STATUS"));
  EXPECT_TRUE(answerer.Seen().empty()) << "no frame status is ever shown";
}

}  // namespace
}  // namespace kt::ui
