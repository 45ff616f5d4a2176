// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>

// The four windows' designs, once for both front ends: captions, geometry in twips (1/1440
// inch; 15 twips to the pixel at 96 dpi), font sizes and colours. A control inside a frame
// is placed relative to the frame's top-left corner.
namespace kt::forms::design {

/// @brief A control's place in twips: left, top, width, height.
struct Twips {
  int Left;
  int Top;
  int Width;
  int Height;
};

/// Twips to the pixel at 96 dpi.
inline constexpr int kTwipsPerPixel = 15;

/// Colours in the 0x00BBGGRR form.
inline constexpr unsigned kRed = 255;
inline constexpr unsigned kGreen = 65280;
inline constexpr unsigned kBlue = 0x00FF0000;
inline constexpr unsigned kWhite = 0x00FFFFFF;
inline constexpr unsigned kGrey = 0x00808080;

/// The evaluation windows' face, always bold: "MS Sans Serif".
inline constexpr const char* kFace = "MS Sans Serif";

/// @brief The device selection window.
namespace device {
inline constexpr const char* kCaption = "KT31X / KT300";
inline constexpr Twips kClient{0, 0, 3135, 3000};
inline constexpr double kPoints = 9.75;  ///< every caption
inline constexpr const char* kFrame1 = "Select Device";
inline constexpr Twips kFrame1Place{120, 120, 2895, 2280};
/// Option1..Option5, one below the other in the frame, captioned from the device table.
constexpr Twips OptionPlace(std::size_t row) {
  return {360, 360 + static_cast<int>(row) * 360, 2295, 315};
}
inline constexpr const char* kCommand1 = "OK";
inline constexpr Twips kCommand1Place{1020, 2520, 1095, 405};
}  // namespace device

/// @brief The main control window.
namespace main {
inline constexpr const char* kCaption = "KT31X / KT300";
inline constexpr Twips kClient{0, 0, 3615, 4185};  ///< below the menu bar
inline constexpr const char* kMenuFile = "&File";
inline constexpr const char* kMenuAbout = "About";
inline constexpr const char* kMenuExit = "E&xit";
inline constexpr double kFramePoints = 9.75;   ///< frames and option buttons
inline constexpr double kButtonPoints = 8.25;  ///< the two command buttons
inline constexpr double kTextPoints = 12;      ///< the entry box
inline constexpr const char* kFrame1 = "Select Power Down Mode";
inline constexpr Twips kFrame1Place{120, 120, 3375, 1995};
/// Option1..Option4 in the frame. On screen they stand Normal, Tri - State, 100 kOhm,
/// 1 kOhm, which is not the order of their names (or of their codes).
constexpr Twips OptionPlace(std::size_t option) {
  constexpr std::array<int, 4> kRow{0, 2, 1, 3};
  return {240, 360 + kRow.at(option) * 360, 3015, 315};
}
inline constexpr const char* kFrame2 = "Enter DAC Data";
inline constexpr Twips kFrame2Place{120, 2235, 3375, 1830};
inline constexpr const char* kText1 = "0";
inline constexpr Twips kText1Place{240, 420, 1935, 465};  ///< in Frame2
inline constexpr const char* kCommand1 = "Hex";
inline constexpr Twips kCommand1Place{2295, 420, 960, 465};  ///< in Frame2
inline constexpr const char* kCommand2 = "Update DAC";
inline constexpr Twips kCommand2Place{870, 1095, 1635, 495};  ///< in Frame2
}  // namespace main

/// @brief The diagnostic SPI test window.
namespace spi {
inline constexpr const char* kCaption = "SPI Form";
inline constexpr Twips kClient{0, 0, 4020, 1770};
inline constexpr double kPoints = 9.75;        ///< labels and text boxes
inline constexpr double kButtonPoints = 8.25;  ///< the button
inline constexpr const char* kText2 = "24";
inline constexpr Twips kText2Place{2880, 120, 975, 375};
inline constexpr const char* kCommand1 = "SPI Write";
inline constexpr Twips kCommand1Place{120, 1080, 1455, 375};
inline constexpr const char* kText1 = "FFFFFF";
inline constexpr Twips kText1Place{2880, 600, 975, 375};
inline constexpr Twips kShape1Place{0, 0, 135, 135};
inline constexpr const char* kLabel2 = "SPI Data";
inline constexpr Twips kLabel2Place{120, 600, 2655, 375};
inline constexpr const char* kLabel1 = "No. Of Bits in SPI Frame";
inline constexpr Twips kLabel1Place{120, 120, 2655, 375};
}  // namespace spi

/// @brief The About window.
namespace about {
inline constexpr const char* kCaption = "About KT31X / KT300";
inline constexpr Twips kClient{0, 0, 5730, 3555};
inline constexpr double kLabelPoints = 8.25;  ///< bold; the buttons use the plain face
inline constexpr Twips kPicIconPlace{240, 240, 540, 540};
inline constexpr const char* kCmdOK = "OK";
inline constexpr Twips kCmdOKPlace{4245, 2625, 1260, 345};
inline constexpr const char* kCmdSysInfo = "&System Info...";
inline constexpr Twips kCmdSysInfoPlace{4260, 3075, 1245, 345};
inline constexpr const char* kLabel1 = "www.corvane.example";
inline constexpr Twips kLabel1Place{1080, 1920, 3885, 225};
inline constexpr const char* kDescription =
    "The latest version of all Corvane Software is available from our WebSite";
inline constexpr Twips kDescriptionPlace{1050, 1200, 3885, 450};
inline constexpr const char* kTitle = "KT310 / KT311 / KT312 / KT313 / KT300 Evaluation Software";
inline constexpr Twips kTitlePlace{1050, 240, 3885, 480};
inline constexpr const char* kVersion = "Version";
inline constexpr Twips kVersionPlace{1050, 840, 3885, 225};
/// The etched separator: Line1(1), grey and one pixel wide, over Line1(0), white and two
/// pixels wide; each from its left end to x = 5654 twips.
inline constexpr Twips kLine1Grey{90, 2445, 5654 - 90, 15};
inline constexpr Twips kLine1White{105, 2460, 5654 - 105, 30};
}  // namespace about

}  // namespace kt::forms::design
