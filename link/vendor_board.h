// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "link/board.h"
#include "link/frame_request.h"
#include "link/path_buffer.h"

// The evaluation board behind the board maker's library, the same for both library
// generations: each generation's board object (kt_board_g1, kt_board_g2) implements it, and a
// program picks one by which of the two it links.
namespace kt::link {

/// The board maker's USB vendor identifier and the board's product identifier.
inline constexpr std::int32_t kBoardVendorId = 0xC0A5;
inline constexpr std::int32_t kBoardProductId = 0xB201;

/// The firmware file in the program's folder.
inline constexpr const char* kFirmwareFileName = "SPI.hex";

/// folder + separator + "SPI.hex". The separator is always added, so a root folder that
/// already ends in one gives two in a row, which the file system takes as one.
std::string FirmwarePathIn(const std::string& folder);

/// @brief The statuses of the last connection's steps, for a diagnosis: the windows judge
/// only the load, as the design has it. The first generation has the load alone.
struct ConnectionSteps {
  std::int16_t Search = 0;   ///< Scan_Bus (second generation)
  std::int16_t Connect = 0;  ///< Open_Link (second generation)
  std::int16_t Load = 0;     ///< Load_Code, or InitLink
};

/// @brief The evaluation board behind its board library: the connection and firmware load,
/// and vendor request 0xDD, which carries every frame. Owns what the connection and the frames
/// share: the firmware path and the path buffer handed to the library.
class VendorBoard : public Board {
 public:
  /// 1 or 2: the board library generation this board talks to.
  [[nodiscard]] virtual int Generation() const = 0;

  /// The board library this board binds: its fixed path, or its file name.
  [[nodiscard]] virtual std::string LibraryFile() const = 0;

  /// The generation's success test of a connection status: 0 only in the second
  /// generation, 0 or greater in the first.
  [[nodiscard]] virtual bool ConnectionSucceeded(std::int16_t status) const = 0;

  /// "the second-generation board library PATH".
  [[nodiscard]] std::string Description() const override;
  [[nodiscard]] std::string IdentityModel() const override {
    return "KT31X-KT300 evaluation board";
  }
  [[nodiscard]] std::string IdentitySerial() const override { return "0"; }
  /// One USB control request a frame, about 1 ms each.
  [[nodiscard]] std::optional<RateLimit> FrameRateLimit() const override {
    return RateLimit{1000,
                     "the evaluation board's library sends one USB control request a frame, "
                     "about 1 ms each"};
  }

  /// The device window's connection (the model plays no part): the firmware in the program's
  /// folder, or the one UseFirmware named.
  bool Connect(const std::optional<Model>& model) override;
  /// The SPI test window's connection, judged by the generation's rule.
  bool ConnectSpiTest() override;
  /// The firmware file when it is missing; nothing otherwise.
  [[nodiscard]] std::string ConnectionFailureReason() const override;
  [[nodiscard]] std::string ConnectionDiagnosis() const override;
  /// The board sends frames of any length: nothing is refused.
  [[nodiscard]] std::string RawRefusal(std::int16_t) const override { return {}; }

  /// The firmware file Connect loads, in place of the program folder's SPI.hex (ktdac's
  /// --firmware); empty for that one.
  void UseFirmware(std::string path) { firmware_ = std::move(path); }

  /// The device window's connection: sets FirmwarePath to the firmware in the program's
  /// folder, fills PathBuffer with it, connects and has the firmware loaded. Stores the
  /// status in LinkStatus and returns it; judge it with ConnectionSucceeded.
  std::int16_t ConnectAndLoadFirmware();

  /// The same with a firmware file of the caller's choice (ktdac's --firmware);
  /// FirmwarePath and PathBuffer then name that file.
  virtual std::int16_t ConnectAndLoadFirmware(const std::string& firmwarePath) = 0;

  /// The SPI test window's connection. Second generation: as ConnectAndLoadFirmware. First
  /// generation: fills PathBuffer with the window's own fixed firmware path (FirmwarePath is
  /// not touched) and loads it. Stores the status in LinkStatus and returns it.
  virtual std::int16_t LoadSpiTestFirmware() = 0;

  /// Sends one frame as vendor request 0xDD and stores the library's status, unexamined,
  /// in LinkStatus; returns the request and the status. Raises kt::Error when the library
  /// or its entry is missing; LinkStatus then keeps its previous value.
  SentFrame SendSpiWord(std::int16_t frameBits, std::int32_t word);

  /// The step of the last connection that failed and its status, as "the firmware load
  /// returned -3", for a diagnosis; empty when every step succeeded.
  [[nodiscard]] std::string FailedConnectionStep() const;

  /// "The firmware PATH is missing: put the board maker's SPI.hex there." when the
  /// firmware file named in FirmwarePath is not a plain file; empty otherwise.
  [[nodiscard]] std::string MissingFirmwareHint() const;

  /// Back to the state of a program that has not connected yet (the library stays bound).
  void Reset() override;

  std::string FirmwarePath;      ///< program folder + separator + "SPI.hex" (UTF-8)
  PathBufferBytes PathBuffer{};  ///< 8-bit copy of a path and its terminating 0
  ConnectionSteps Steps;         ///< the last connection's steps, for a diagnosis

 protected:
  SentFrame Transmit(const Frame& frame, bool raw) override;
  /// Hands one packed request to the library's frame entry and returns its status.
  virtual std::int16_t Transfer(const FrameRequest& request) = 0;

 private:
  std::string firmware_;
};

/// This program's board, of the generation it was linked with (kt_board_g1 or
/// kt_board_g2). Only program entry points and tests call it; everything else is handed a
/// Board.
VendorBoard& ProgramBoard();

}  // namespace kt::link
