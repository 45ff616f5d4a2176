// SPDX-License-Identifier: MIT
// The windows driving a kernel IIO DAC, as a user on Linux drives them with --board iio:local:
// (offscreen, under umockdev-wrapper: libiio reads and writes the test bed's attribute files).
// Every step is checked on the attribute files.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "link/iio_board.h"
#include "qt/desktop.h"
#include "qt/device_form.h"
#include "qt/main_form.h"
#include "qt/spi_form.h"
#include "tests/qt/window_support.h"
#include "tests/support/testbed.h"

namespace kt::ui {
namespace {

using Writes = std::vector<std::string>;
using test::kDown;
using test::kMode;
using test::kRaw;

void Click(QRadioButton* option) {
  QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(8, option->height() / 2));
}

class IioWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetForms();
    id_ = bed_.AddIioDac({});
  }
  void TearDown() override { ResetForms(); }

  test::Testbed bed_;
  link::IioBoard board_{"local:", ""};
  std::string id_;
};

TEST_F(IioWindows, EveryFlowOfTheWindowsWritesTheAttributesInTheSafeOrder) {
  Main(board_);
  DeviceForm& device = *ExistingDeviceForm();
  Click(device.Option2);  // KT310
  QTest::mouseClick(device.Command1, Qt::LeftButton);
  ASSERT_NE(ExistingMainForm(), nullptr);
  MainForm& main = *ExistingMainForm();
  EXPECT_EQ(bed_.Writes(), Writes{kRaw}) << "the main window's first frame: 0, Normal";
  EXPECT_EQ(bed_.Attribute(id_, kRaw), "0");

  struct Step {
    const char* name;
    std::function<void()> act;
    Writes writes;
    const char *raw, *down, *mode;
  };
  const Step steps[] = {
      {"1234 in hexadecimal, Enter",
       [&] {
         main.Text1->setText("1234");
         QTest::keyClick(main.Text1, Qt::Key_Return);
       },
       {kRaw},
       "4660",
       "0",
       "three_state"},
      {"100 kOhm to GND",
       [&] { Click(main.Option2); },
       {kMode, kDown},
       "4660",
       "1",
       "100kohm_to_gnd"},
      {"Tri - State", [&] { Click(main.Option3); }, {kMode, kDown}, "4660", "1", "three_state"},
      {"1 kOhm to GND", [&] { Click(main.Option4); }, {kMode, kDown}, "4660", "1", "1kohm_to_gnd"},
      {"Normal", [&] { Click(main.Option1); }, {kRaw, kDown}, "4660", "0", "1kohm_to_gnd"},
      {"to decimal, 100, Update DAC",
       [&] {
         QTest::mouseClick(main.Command1, Qt::LeftButton);
         main.Text1->setText("100");
         QTest::mouseClick(main.Command2, Qt::LeftButton);
       },
       {kRaw},
       "100",
       "0",
       "1kohm_to_gnd"},
      {"beyond the last code, clamped",
       [&] {
         main.Text1->setText("70000");
         QTest::keyClick(main.Text1, Qt::Key_Return);
       },
       {kRaw},
       "65535",
       "0",
       "1kohm_to_gnd"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    EXPECT_EQ(bed_.Writes(), step.writes);
    EXPECT_EQ(bed_.Attribute(id_, kRaw), step.raw);
    EXPECT_EQ(bed_.Attribute(id_, kDown), step.down);
    EXPECT_EQ(bed_.Attribute(id_, kMode), step.mode);
  }
  EXPECT_EQ(main.Text1->text(), "65535");
}

TEST_F(IioWindows, OkForAModelTheDacIsNotShowsTheFailureBoxWithTheReasonAndStays) {
  Main(board_);
  DeviceForm& device = *ExistingDeviceForm();
  test::MessageBoxAnswerer answerer;
  QTest::mouseClick(device.Command1, Qt::LeftButton);  // the KT300, chosen at the start
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_EQ(answerer.Seen()[0].Text,
            "Communication Failure - Check USB connections\n\nThe IIO device kt310 "
            "(iio:device0) at local: is a 16-bit DAC (out_voltage0_raw_available [0 1 65535]); "
            "the KT300 takes 14-bit codes: choose the model fitted");
  EXPECT_EQ(answerer.Seen()[0].Title, "Error");
  EXPECT_TRUE(device.isVisible());
  EXPECT_EQ(ExistingMainForm(), nullptr);
  EXPECT_TRUE(bed_.Writes().empty());
}

TEST_F(IioWindows, TheSpiTestWindowConnectsButSaysRawFramesAreNotForThisBoard) {
  MainSpiTest(board_);
  SPIForm& spi = *ExistingSpiForm();
  EXPECT_EQ(spi.LampColour(), 65280u) << "green: connected";
  test::MessageBoxAnswerer answerer;
  QTest::mouseClick(spi.Command1, Qt::LeftButton);
  ASSERT_EQ(answerer.Seen().size(), 1u);
  EXPECT_NE(answerer.Seen()[0].Text.find("not raw frames"), std::string::npos);
  EXPECT_TRUE(bed_.Writes().empty());
}

}  // namespace
}  // namespace kt::ui
