// SPDX-License-Identifier: MIT
#include "cli/session.h"

#include <fmt/format.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/characterize.h"
#include "cli/parsing.h"
#include "cli/progress.h"
#include "cli/remote_board.h"
#include "cli/stop.h"
#include "core/error.h"
#include "dac/entry_logic.h"
#include "platform/program.h"

namespace kt::cli {

namespace {

// Writes a line out at once, so that a hard kill loses at most the line in hand; a write
// that fails stops the run with the file's name and the system's reason.
void Emit(std::FILE* file, const std::string& name, const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0)
    throw WriteError{"cannot write " + name + ": " + std::strerror(errno)};
}

// Reports a frame the board library refused.
int Refused(std::int16_t status, const std::string& what) {
  fmt::print(stderr, "ktdac: the board refused the frame of {} (status {})\n", what, status);
  return kFrameRefused;
}

// The record of a code sent, for the CSV and JSON lines.
FrameRecord Record(const Dac& target, std::int64_t code, const Session::Sent& sent,
                   std::optional<double> vref) {
  FrameRecord record;
  record.Device = target.Device->Label;
  record.Mode = target.Mode->Name;
  record.Code = code;
  record.Word = sent.Frame.Word;
  record.Value = static_cast<std::uint16_t>(sent.Result.Request.value);
  record.Index = static_cast<std::uint16_t>(sent.Result.Request.index);
  record.Status = sent.Result.Status;
  record.HasVref = vref.has_value();
  if (vref && target.Mode->Code == 0)
    record.Volts = dac::IdealVolts(sent.Frame.Word & dac::LastCode(*target.Device),
                                   target.Device->DataBits, *vref);
  return record;
}

}  // namespace

Session::Session(link::Board& board, std::string firmware, std::FILE* out)
    : board_(board), firmware_(std::move(firmware)), out_(out) {}

Session::Sent Session::SendCode(const Dac& target, std::int64_t code) {
  const std::int32_t value =
      dac::ClampCode(EntryValue(code, target.Hexadecimal), target.Device->DataBits);
  const Frame frame = dac::DeviceFrame(*target.Device, target.Mode->Code, value);
  return {dac::NormalisedText(value, target.Hexadecimal), frame, board_.Send(frame)};
}

int Session::Connect() {
  if (connected_) return kSuccess;
  const std::int16_t status = firmware_.empty() ? board_.ConnectAndLoadFirmware()
                                                : board_.ConnectAndLoadFirmware(firmware_);
  if (!board_.ConnectionSucceeded(status)) {
    // Only the step that failed is named. The second generation has found and connected the
    // board before it loads, so a refused load there is the firmware's, not the cable's; in
    // the first the load is also the search.
    const std::string step = board_.FailedConnectionStep();
    const bool load = board_.Steps.Search == 0 && board_.Steps.Connect == 0;
    if (load && board_.Generation() == 2) {
      fmt::print(stderr,
                 "ktdac: {}, loading {}: the board was found and connected but did not take "
                 "this firmware (is it the board maker's SPI.hex?)\n",
                 step, board_.FirmwarePath);
    } else if (load) {
      fmt::print(stderr, "ktdac: Communication Failure - Check USB connections: {}, loading {}\n",
                 step, board_.FirmwarePath);
    } else {
      fmt::print(stderr, "ktdac: Communication Failure - Check USB connections: {}\n", step);
    }
    if (const std::string hint = board_.MissingFirmwareHint(); !hint.empty())
      fmt::print(stderr, "ktdac: {}\n", hint);
    return kConnectionFailure;
  }
  connected_ = true;
  return kSuccess;
}

int Session::Run(const Checked& command) {
  if (const auto* list = std::get_if<Listing>(&command)) return List(*list);
  if (const auto* wait = std::get_if<Waiting>(&command)) {
    if (!WaitUnlessStopped(wait->Duration)) return 128 + StopSignal();
    return kSuccess;
  }
  if (const auto* characterize = std::get_if<Characterizing>(&command))
    return Characterize(*this, *characterize, out_);
  if (const int status = Connect(); status != kSuccess) return status;
  if (const auto* set = std::get_if<Setting>(&command)) return Set(*set);
  if (const auto* serve = std::get_if<Serving>(&command)) return Serve(*serve);
  if (const auto* sweep = std::get_if<Sweeping>(&command)) return Sweep(*sweep);
  return Raw(std::get<RawSending>(command));
}

int Session::List(const Listing& command) {
  std::string table = ModelHeader(command.Form);
  for (const auto& device : dac::DeviceTable)
    table += ModelLine(command.Form, {device.Label, device.FrameBits, device.DataBits});
  Emit(out_, "standard output", table);
  return kSuccess;
}

int Session::Set(const Setting& command) {
  if (command.Form == Output::Csv)
    Emit(out_, "standard output", CsvHeader(false, command.Vref.has_value()));
  for (const Code& code : command.Codes) {
    const Sent sent = SendCode(command.Target, code.Value);
    const FrameRecord record = Record(command.Target, code.Value, sent, command.Vref);
    if (command.Form == Output::Csv) {
      Emit(out_, "standard output", CsvRow(record));
    } else if (command.Form == Output::Json) {
      Emit(out_, "standard output", JsonLine(record));
    } else {
      const std::string volts =
          !record.HasVref ? ""
          : record.Volts  ? fmt::format("  output {:.6f} V", *record.Volts)
                          : fmt::format("  output: power-down, {}", command.Target.Mode->Caption);
      Emit(out_, "standard output",
           fmt::format("{:<6}  word 0x{:06X}  value 0x{:04X}  index 0x{:04X}{}\n", sent.Box,
                       static_cast<std::uint32_t>(record.Word), record.Value, record.Index, volts));
    }
    if (sent.Result.Status != 0) return Refused(sent.Result.Status, code.Text);
  }
  return kSuccess;
}

int Session::Sweep(const Sweeping& command) {
  // The CSV file, when one is named, is closed however the sweep ends; the close is
  // checked below when it ends normally.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
  const std::string csvName = command.Csv.empty() ? "standard output" : command.Csv;
  if (!command.Csv.empty()) {
    file.reset(kt::platform::OpenFile(command.Csv, "w"));
    if (!file) throw WriteError{"cannot write " + csvName + ": " + std::strerror(errno)};
  }
  std::FILE* csv = file ? file.get() : out_;
  Emit(csv, csvName, CsvHeader(true, command.Vref.has_value()));
  const std::int64_t perPass = (command.To - command.From) / command.Step + 1;
  Progress progress(perPass * command.Repeat, csv == out_ && IsTerminal(out_));
  const StopOnSignals stopOnSignals;
  const auto start = std::chrono::steady_clock::now();
  Sent sent;
  std::int64_t count = 0;
  bool refused = false;
  for (int pass = 0; pass < command.Repeat && !StopSignal() && !refused; ++pass) {
    for (std::int64_t i = 0; i < perPass && !StopSignal() && !refused; ++i) {
      const std::int64_t value = command.From + i * command.Step;
      sent = SendCode(command.Target, value);
      FrameRecord record = Record(command.Target, value, sent, command.Vref);
      record.Elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      Emit(csv, csvName, CsvRow(record));
      progress.Update(++count);
      refused = sent.Result.Status != 0;
      if (!refused && command.Dwell.count() > 0) WaitUnlessStopped(command.Dwell);
    }
  }
  progress.Finish();
  if (file && std::fclose(file.release()) != 0)
    throw WriteError{"cannot write " + csvName + ": " + std::strerror(errno)};
  if (refused) return Refused(sent.Result.Status, sent.Box);
  if (const int signal = StopSignal()) {
    fmt::print(stderr, "ktdac: interrupted: {} of {} frames sent\n", count,
               perPass * command.Repeat);
    return 128 + signal;
  }
  return kSuccess;
}

int Session::Raw(const RawSending& command) {
  const dac::RawFrame& frame = command.Frame;
  const link::SentFrame sent = board_.SendSpiWord(frame.FrameBits, frame.Word);
  Emit(out_, "standard output",
       fmt::format("bits {}  word 0x{:08X}  value 0x{:04X}  index 0x{:X}  status {}\n",
                   frame.FrameBits, static_cast<std::uint32_t>(frame.Word),
                   static_cast<std::uint32_t>(sent.Request.value),
                   static_cast<std::uint32_t>(sent.Request.index), sent.Status));
  if (sent.Status != 0) return Refused(sent.Status, command.Data);
  return kSuccess;
}

int Session::Serve(const Serving& command) {
  RemoteBoard board(*this, *command.Device);
  return remote::Serve(command.Where, board, stderr);
}

}  // namespace kt::cli
