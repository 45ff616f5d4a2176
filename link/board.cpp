// SPDX-License-Identifier: MIT
#include "link/board.h"

#include <cerrno>

namespace kt::link {

std::string BoardLibraryFailureMessage(const std::string& reason) {
  return "The board library cannot be used.\n\n" + reason +
         "\n\nInstall the board maker's software for the evaluation board, which puts its "
         "library where this program looks for it, then try again.";
}

std::string Board::ConnectionFailureMessage() const {
  std::string message = kCommunicationFailure;
  if (std::string reason = ConnectionFailureReason(); !reason.empty()) {
    // A paragraph of its own starts as a sentence does.
    if (reason.front() >= 'a' && reason.front() <= 'z')
      reason.front() = static_cast<char>(reason.front() - 'a' + 'A');
    message += "\n\n" + reason;
  }
  return message;
}

SentFrame Board::Send(const Frame& frame) {
  SentFrame sent = Transmit(frame, false);
  LinkStatus = sent.Status;
  return sent;
}

std::vector<SentFrame> Board::SendRun(const std::vector<Frame>& frames) {
  std::vector<SentFrame> sent = TransmitRun(frames);
  if (!sent.empty()) LinkStatus = sent.back().Status;
  return sent;
}

std::vector<SentFrame> Board::TransmitRun(const std::vector<Frame>& frames) {
  std::vector<SentFrame> sent;
  for (const Frame& frame : frames) {
    sent.push_back(Transmit(frame, false));
    if (sent.back().Status != 0) break;
  }
  return sent;
}

SentFrame Board::SendRaw(const Frame& frame) {
  if (std::string refusal = RawRefusal(frame.Bits); !refusal.empty()) {
    SentFrame refused;
    refused.Status = -EOPNOTSUPP;
    refused.Failure = std::move(refusal);
    LinkStatus = refused.Status;
    return refused;
  }
  SentFrame sent = Transmit(frame, true);
  LinkStatus = sent.Status;
  return sent;
}

std::optional<double> Board::ReferenceVolts(std::int16_t) const { return std::nullopt; }

std::unique_ptr<OutputBuffer> Board::OpenOutputBuffer(double, std::size_t, bool, std::string& why) {
  why = "only an IIO DAC whose driver has output buffers plays from a buffer";
  return nullptr;
}

void Board::Reset() {
  LinkStatus = 0;
  connected_ = false;
}

}  // namespace kt::link
