// SPDX-License-Identifier: MIT
// The windows driving a DAC through a USB-SPI bridge, as a user on Linux drives them with
// --board ftdi: (offscreen, under umockdev-wrapper: libftdi1 talks to the test bed's chip).
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "dac/device_table.h"
#include "link/ftdi_board.h"
#include "qt/desktop.h"
#include "qt/device_form.h"
#include "qt/main_form.h"
#include "qt/spi_form.h"
#include "tests/qt/window_support.h"
#include "tests/support/testbed.h"

namespace kt::ui {
namespace {

std::vector<std::string> Frames(test::Testbed& bed) {
  std::vector<std::string> frames;
  for (std::string& line : bed.FtdiLog())
    if (line.rfind("frame ", 0) == 0) frames.push_back(line.substr(6, line.find(',') - 6));
  return frames;
}

TEST(FtdiWindows, TheWindowsSendEachFrameThroughTheBridgeAndSayWhenItIsMissing) {
  ResetForms();
  test::Testbed bed;
  link::FtdiBoard missing(link::FtdiChoice{});
  Main(missing);
  test::MessageBoxAnswerer answerer;
  QTest::mouseClick(ExistingDeviceForm()->Command1, Qt::LeftButton);
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_EQ(answerer.Seen()[0].Text,
            "Communication Failure - Check USB connections\n\nNo FTDI chip 0403:6014 on USB; "
            "present: none");
  ResetForms();

  bed.AddFtdi();
  link::FtdiBoard board(link::FtdiChoice{});
  Main(board);
  DeviceForm& device = *ExistingDeviceForm();
  QTest::mouseClick(device.Option2, Qt::LeftButton, {}, QPoint(8, device.Option2->height() / 2));
  QTest::mouseClick(device.Command1, Qt::LeftButton);  // KT310
  ASSERT_NE(ExistingMainForm(), nullptr);
  MainForm& main = *ExistingMainForm();
  main.Text1->setText("1234");
  QTest::keyClick(main.Text1, Qt::Key_Return);
  QTest::mouseClick(main.Option3, Qt::LeftButton, {}, QPoint(8, main.Option3->height() / 2));
  const dac::DeviceProfile& kt310 = *dac::FindDevice("KT310");
  std::vector<std::string> expected;
  for (const auto& [mode, code] : {std::pair{0, 0}, {0, 0x1234}, {1, 0x1234}}) {
    char line[32];
    std::snprintf(line, sizeof line, "24 bits %06X",
                  static_cast<unsigned>(dac::DeviceFrame(kt310, mode, code).Word));
    expected.push_back(line);
  }
  EXPECT_EQ(Frames(bed), expected);
  ResetForms();

  link::FtdiBoard spiBoard(link::FtdiChoice{});
  MainSpiTest(spiBoard);
  SPIForm& spi = *ExistingSpiForm();
  EXPECT_EQ(spi.LampColour(), 65280u) << "green: connected";
  bed.FtdiLog();
  QTest::mouseClick(spi.Command1, Qt::LeftButton);
  EXPECT_EQ(Frames(bed).size(), 1u);
  ResetForms();
}

}  // namespace
}  // namespace kt::ui
