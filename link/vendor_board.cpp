// SPDX-License-Identifier: MIT
#include "link/vendor_board.h"

#include <cstdio>

#include "platform/process.h"
#include "platform/program.h"

namespace kt::link {

std::string FirmwarePathIn(const std::string& folder) {
  return folder + platform::kFolderSeparator + kFirmwareFileName;
}

std::string VendorBoard::Description() const {
  return std::string("the ") + (Generation() == 2 ? "second" : "first") +
         "-generation board library " + LibraryFile();
}

bool VendorBoard::Connect(const std::optional<Model>&) {
  const std::int16_t status =
      firmware_.empty() ? ConnectAndLoadFirmware() : ConnectAndLoadFirmware(firmware_);
  connected_ = ConnectionSucceeded(status);
  return connected_;
}

bool VendorBoard::ConnectSpiTest() {
  connected_ = ConnectionSucceeded(LoadSpiTestFirmware());
  return connected_;
}

std::string VendorBoard::ConnectionFailureReason() const { return MissingFirmwareHint(); }

std::string VendorBoard::ConnectionDiagnosis() const {
  // Only the step that failed is named. The second generation has found and connected the
  // board before it loads, so a refused load there is the firmware's, not the cable's; in
  // the first the load is also the search.
  const std::string step = FailedConnectionStep();
  const bool load = Steps.Search == 0 && Steps.Connect == 0;
  std::string diagnosis;
  if (load && Generation() == 2) {
    diagnosis = step + ", loading " + FirmwarePath +
                ": the board was found and connected but did not take this firmware (is it "
                "the board maker's SPI.hex?)";
  } else if (load) {
    diagnosis = std::string(kCommunicationFailure) + ": " + step + ", loading " + FirmwarePath;
  } else {
    diagnosis = std::string(kCommunicationFailure) + ": " + step;
  }
  if (const std::string hint = MissingFirmwareHint(); !hint.empty()) diagnosis += "\n" + hint;
  return diagnosis;
}

std::int16_t VendorBoard::ConnectAndLoadFirmware() {
  return ConnectAndLoadFirmware(FirmwarePathIn(platform::ProgramFolder()));
}

SentFrame VendorBoard::SendSpiWord(std::int16_t frameBits, std::int32_t word) {
  return Send(Frame{frameBits, word});
}

SentFrame VendorBoard::Transmit(const Frame& frame, bool) {
  const FrameRequest request = PackFrame(frame.Bits, frame.Word);
  SentFrame sent;
  sent.Status = Transfer(request);
  sent.Request = request;
  char carried[48];
  std::snprintf(carried, sizeof carried, "value 0x%04X  index 0x%X",
                static_cast<unsigned>(request.value), static_cast<unsigned>(request.index));
  sent.Carried = carried;
  return sent;
}

std::string VendorBoard::FailedConnectionStep() const {
  // The second generation's search and connection report 0 on success; the load is judged
  // by the generation's own rule.
  if (Steps.Search != 0) return "the board search returned " + std::to_string(Steps.Search);
  if (Steps.Connect != 0) return "the connection returned " + std::to_string(Steps.Connect);
  if (!ConnectionSucceeded(Steps.Load))
    return "the firmware load returned " + std::to_string(Steps.Load);
  return {};
}

std::string VendorBoard::MissingFirmwareHint() const {
  if (FirmwarePath.empty() || platform::FileExists(FirmwarePath)) return {};
  return "The firmware " + FirmwarePath + " is missing: put the board maker's SPI.hex there.";
}

void VendorBoard::Reset() {
  Board::Reset();
  FirmwarePath.clear();
  PathBuffer.fill(0);
  Steps = {};
}

}  // namespace kt::link
