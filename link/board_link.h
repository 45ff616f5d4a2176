// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

#include "core/app_state.h"

// What the windows need from the board link, the same in both generations; each program
// links the one implementation of its generation.
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
const ConnectionSteps& LastConnectionSteps();

/// The step of the last connection that failed and its status, as "the firmware load
/// returned -3", for a diagnosis; empty when every step succeeded.
std::string FailedConnectionStep();

/// "The firmware PATH is missing: put the board maker's SPI.hex there." when the firmware
/// file named in FirmwarePath is not a plain file; empty otherwise.
std::string MissingFirmwareHint(const AppState& app);

/// What a failed connection is reported with: "Communication Failure - Check USB
/// connections", and, when the firmware file is not there, a second paragraph that says to
/// put the board maker's SPI.hex in its place.
std::string ConnectionFailureMessage(const AppState& app);

/// What a board library that cannot be used is reported with, in every window: that it
/// cannot be used, the reason (which names the library looked for, and where), and what the
/// user can do about it.
std::string BoardLibraryFailureMessage(const std::string& reason);

/// Sends one frame as vendor request 0xDD and stores the library's status, unexamined, in
/// LinkStatus. Raises kt::Error when the library or its entry is missing; LinkStatus then
/// keeps its previous value.
void SendSpiWord(AppState& app, std::int16_t frameBits, std::int32_t word);

/// The device window's connection: sets FirmwarePath to the firmware in the program's
/// folder, fills PathBuffer with it, connects and has the firmware loaded. Stores the status
/// in LinkStatus and returns it; judge it with ConnectionSucceeded.
std::int16_t ConnectAndLoadFirmware(AppState& app);

/// The same with a firmware file of the caller's choice (the command-line companion's
/// --firmware); FirmwarePath and PathBuffer then name that file.
std::int16_t ConnectAndLoadFirmware(AppState& app, const std::string& firmwarePath);

/// The SPI test window's connection. Second generation: as ConnectAndLoadFirmware. First
/// generation: fills PathBuffer with the window's own fixed firmware path (FirmwarePath is
/// not touched) and loads it. Stores the status in LinkStatus and returns it.
std::int16_t ConnectSpiTest(AppState& app);

/// The first generation's fixed firmware path for the SPI test window, set at build time.
extern const char* const kSpiTestFirmwarePath;

/// The board library this generation binds: its fixed path, or its file name.
std::string BoardLibraryFile();

/// The generation's success test of a connection status: 0 only in the second generation,
/// 0 or greater in the first.
bool ConnectionSucceeded(std::int16_t status);

#if KT_GENERATION == 2
/// Searches for the board, connects to it, fills PathBuffer with the firmware path and has
/// the firmware downloaded; returns the download status (0 is success). Writes BoardHandle
/// (through the library), FirmwarePath and PathBuffer.
std::int16_t ConnectBoard(AppState& app);

/// ConnectBoard with the firmware file of the caller's choice.
std::int16_t ConnectBoard(AppState& app, const std::string& firmwarePath);
#endif

}  // namespace kt::link
