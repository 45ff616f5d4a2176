// SPDX-License-Identifier: MIT
#include "cli/commands.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/parsing.h"
#include "cli/progress.h"
#include "cli/scpi.h"
#include "cli/server.h"
#include "core/error.h"
#include "core/startup.h"
#include "dac/device_table.h"
#include "dac/entry_logic.h"
#include "dac/power_down.h"
#include "dac/raw_frame.h"
#include "dac/readings.h"
#include "link/board_link.h"
#include "link/frame_request.h"
#include "platform/program.h"

namespace kt::cli {

namespace {

// The signal that asked a sweep to stop after the frame in hand, or 0.
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int signal) { interrupted = signal; }

// The signals that stop a sweep as Ctrl-C does: from the terminal, from kill or a service
// manager, and from a closed terminal.
constexpr int kStopSignals[] = {
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};

// While it lives, the stop signals end a sweep after the frame in hand (see `interrupted`)
// instead of the program.
class StopOnSignals {
 public:
  StopOnSignals() {
    interrupted = 0;
    for (const int signal : kStopSignals) previous_.push_back(std::signal(signal, OnInterrupt));
  }
  ~StopOnSignals() {
    for (std::size_t i = 0; i < previous_.size(); ++i) std::signal(kStopSignals[i], previous_[i]);
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  std::vector<void (*)(int)> previous_;
};

// Writes a line out at once, so that a hard kill loses at most the line in hand; a write
// that fails stops the run with the file's name and the system's reason.
void Emit(std::FILE* file, const std::string& name, const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0)
    throw WriteError{"cannot write " + name + ": " + std::strerror(errno)};
}

// Sends a code as the window does: its text in the entry format, through exactly the update
// a power-down choice runs (read, clamp, normalise, compose, send). Returns the box's text
// afterwards; an update that traps raises kt::Error.
std::string SendCode(AppState& app, std::int64_t code, std::int32_t powerDown) {
  dac::TextEntry entry(app.EntryFormat == kHexFormat ? dac::HexText(static_cast<std::int32_t>(code))
                                                     : std::to_string(code),
                       app.EntryFormat);
  const dac::EntryOutcome outcome = dac::ChoosePowerDown(app, entry, powerDown);
  if (!outcome.Trapped.empty()) throw Error(outcome.Trapped);
  return entry.Text;
}

// Sends a raw frame as the SPI test window writes one.
void SendRawFrame(AppState& app, std::int16_t bits, std::int32_t word) {
  app.FrameBits = bits;
  app.DacWord = word;
  link::SendSpiWord(app, bits, word);
}

// Reports a frame the board library refused.
int Refused(std::int16_t status, const std::string& what) {
  fmt::print(stderr, "ktdac: the board refused the frame of {} (status {})\n", what, status);
  return kFrameRefused;
}

const dac::DeviceProfile& Device(const std::string& label) {
  for (const auto& device : dac::DeviceTable) {
    const std::string_view known = device.Label;
    if (label.size() == known.size() &&
        std::equal(label.begin(), label.end(), known.begin(),
                   [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
      return device;
  }
  throw UsageError{"unknown device \"" + label + "\""};
}

bool Hexadecimal(const Target& target) { return target.Format == "hex"; }

std::int32_t Max(const Target& target) { return (1 << Device(target.Device).DataBits) - 1; }

const char* ModeCaption(std::int32_t code) {
  for (const auto& mode : dac::kPowerDownModes)
    if (mode.Code == code) return mode.Caption;
  return "?";
}

// The raw frame's two texts, checked strictly: the length a whole decimal number, the data
// one to eight hexadecimal digits (0x in front allowed). Raises UsageError.
std::pair<std::string, std::string> RawFrameText(const RawCommand& raw) {
  const bool bits =
      !raw.Bits.empty() &&
      raw.Bits.find_first_not_of("0123456789", raw.Bits[0] == '-' ? 1 : 0) == std::string::npos &&
      raw.Bits != "-";
  if (!bits) throw UsageError{"--bits " + raw.Bits + " is not a whole number"};
  std::string data = raw.Data;
  if (data.size() > 2 && data[0] == '0' && (data[1] == 'x' || data[1] == 'X')) data.erase(0, 2);
  if (data.empty() || data.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    throw UsageError{"--data " + raw.Data + " is not hexadecimal digits"};
  try {
    dac::ReadRawFrame(raw.Bits, data);
  } catch (const Error& error) {
    throw UsageError{error.what()};
  }
  return {raw.Bits, data};
}

void ValidateTarget(const Target& target) {
  Device(target.Device);
  PowerDownCode(target.PowerDown);
  if (target.Format != "hex" && target.Format != "dec")
    throw UsageError{"--format is hex or dec, not \"" + target.Format + "\""};
}

void AddOutput(CLI::App& command, std::string& output) {
  command.add_option("--output", output, "how to print: text, csv or json (one object a line)")
      ->capture_default_str()
      ->check(CLI::IsMember({"text", "csv", "json"}, CLI::ignore_case));
}

// A reference voltage must be a real, positive number of volts.
void ValidateVref(const std::optional<double>& vref) {
  if (vref && !(std::isfinite(*vref) && *vref > 0))
    throw UsageError{fmt::format("--vref {} is not a positive voltage", *vref)};
}

void AddTarget(CLI::App& command, Target& target) {
  std::vector<std::string> devices;
  for (const auto& device : dac::DeviceTable) devices.emplace_back(device.Label);
  command.add_option("--device", target.Device, "KT300, KT310, KT311, KT312 or KT313 (any case)")
      ->capture_default_str()
      ->check(CLI::IsMember(devices, CLI::ignore_case));
  std::string modes;
  for (const auto& name : PowerDownNames()) modes += (modes.empty() ? "" : ", ") + name;
  command.add_option("--power-down", target.PowerDown, "the mode: " + modes)
      ->capture_default_str()
      ->check(CLI::IsMember(PowerDownNames(), CLI::ignore_case));
  command.add_option("--format", target.Format, "how values are read: hex or dec")
      ->capture_default_str()
      ->check(CLI::IsMember({"hex", "dec"}));
}

}  // namespace

void AddCommands(CLI::App& app, std::optional<Command>& command, bool script) {
  app.require_subcommand(1, 1);
  auto list = std::make_shared<ListCommand>();
  CLI::App* listCommand =
      app.add_subcommand("list", "the five models with their frame and data widths");
  AddOutput(*listCommand, list->Output);
  listCommand->final_callback([&command, list] { command = *list; });

  auto set = std::make_shared<SetCommand>();
  CLI::App* setCommand = app.add_subcommand("set", "send one frame per value");
  AddTarget(*setCommand, set->Dac);
  setCommand->add_option("--vref", set->Vref, "reference voltage: print each ideal output");
  setCommand
      ->add_option("values", set->Values,
                   "codes: whole numbers in the format (0x for hexadecimal in either)")
      ->required();
  setCommand->add_flag("--clamp", set->Clamp,
                       "take codes beyond the device's range and clamp them, as the window does");
  AddOutput(*setCommand, set->Output);
  setCommand->final_callback([&command, set] { command = *set; });

  auto sweep = std::make_shared<SweepCommand>();
  CLI::App* sweepCommand = app.add_subcommand("sweep", "send the codes from one to another");
  AddTarget(*sweepCommand, sweep->Dac);
  sweepCommand->add_option("--from", sweep->First, "first code")->required();
  sweepCommand->add_option("--to", sweep->Last, "last code")->required();
  sweepCommand->add_option("--step", sweep->Step, "code step")->capture_default_str();
  sweepCommand->add_option("--dwell", sweep->Dwell, "wait after each frame (10ms, 1s)")
      ->capture_default_str();
  sweepCommand->add_option("--repeat", sweep->Repeat, "sweeps in a row")->capture_default_str();
  sweepCommand->add_option("--csv", sweep->Csv, "write the rows here, not to standard output");
  sweepCommand->add_option("--vref", sweep->Vref, "reference voltage: add each ideal output");
  sweepCommand->final_callback([&command, sweep] { command = *sweep; });

  auto raw = std::make_shared<RawCommand>();
  CLI::App* rawCommand = app.add_subcommand("raw", "one raw frame, as the SPI test window sends");
  rawCommand->add_option("--bits", raw->Bits, "bits in the frame")->required();
  rawCommand->add_option("--data", raw->Data, "frame data, hexadecimal")->required();
  rawCommand->final_callback([&command, raw] { command = *raw; });

  if (!script) {
    auto serve = std::make_shared<ServeCommand>();
    CLI::App* serveCommand =
        app.add_subcommand("serve", "serve SCPI commands over TCP (port 5025), for lab automation");
    serveCommand->add_option("--device", serve->Device, "the model at the start (any case)")
        ->capture_default_str();
    serveCommand
        ->add_option("--listen", serve->Listen,
                     "ADDRESS:PORT to listen on; another address than loopback opens the board "
                     "to the network")
        ->capture_default_str();
    serveCommand->final_callback([&command, serve] { command = *serve; });
  }

  if (script) {
    auto wait = std::make_shared<WaitCommand>();
    CLI::App* waitCommand = app.add_subcommand("wait", "pause the script");
    waitCommand->add_option("duration", wait->Duration, "how long (10ms, 2s)")->required();
    waitCommand->final_callback([&command, wait] { command = *wait; });
  }
}

void Validate(const Command& command) {
  if (const auto* list = std::get_if<ListCommand>(&command)) {
    ParseOutput(list->Output);
  } else if (const auto* set = std::get_if<SetCommand>(&command)) {
    ValidateTarget(set->Dac);
    ValidateVref(set->Vref);
    ParseOutput(set->Output);
    // Strictly: a typo must not reach the board. Whole numbers in the format (0x always
    // hexadecimal), within the device's range unless clamping was asked for.
    for (const auto& value : set->Values) {
      const std::int64_t code = ParseCode(value, Hexadecimal(set->Dac));
      if (code > Max(set->Dac) && !set->Clamp)
        throw UsageError{
            fmt::format("value {} is beyond the {}'s last code 0x{:X} (--clamp takes it)", value,
                        set->Dac.Device, Max(set->Dac))};
    }
  } else if (const auto* sweep = std::get_if<SweepCommand>(&command)) {
    ValidateTarget(sweep->Dac);
    ValidateVref(sweep->Vref);
    const bool hex = Hexadecimal(sweep->Dac);
    for (const auto& [name, text] : {std::pair{"--from", sweep->First}, {"--to", sweep->Last}}) {
      if (ParseCode(text, hex) > Max(sweep->Dac))
        throw UsageError{fmt::format("{} {} is beyond the {}'s last code 0x{:X}", name, text,
                                     sweep->Dac.Device, Max(sweep->Dac))};
    }
    if (ParseCode(sweep->Step, hex) == 0) throw UsageError{"--step must not be 0"};
    ParseDuration(sweep->Dwell);
    if (sweep->Repeat < 1) throw UsageError{"--repeat must be 1 or more"};
  } else if (const auto* raw = std::get_if<RawCommand>(&command)) {
    RawFrameText(*raw);
  } else if (const auto* wait = std::get_if<WaitCommand>(&command)) {
    ParseDuration(wait->Duration);
  } else if (const auto* serve = std::get_if<ServeCommand>(&command)) {
    Device(serve->Device);
    ParseListen(serve->Listen);
  }
}

Session::Session(const Common& common, std::FILE* out) : common_(common), out_(out) {
  SetStartDefaults(app_);
}

int Session::Connect() {
  if (connected_) return kSuccess;
  const std::int16_t status = common_.Firmware.empty()
                                  ? link::ConnectAndLoadFirmware(app_)
                                  : link::ConnectAndLoadFirmware(app_, common_.Firmware);
  if (!link::ConnectionSucceeded(status)) {
    fmt::print(stderr, "ktdac: Communication Failure - Check USB connections: {}, loading {}\n",
               link::FailedConnectionStep(), app_.FirmwarePath);
    if (const std::string hint = link::MissingFirmwareHint(app_); !hint.empty())
      fmt::print(stderr, "ktdac: {}\n", hint);
    return kConnectionFailure;
  }
  connected_ = true;
  return kSuccess;
}

void Session::Choose(const Target& target) {
  dac::SelectDevice(app_, Device(target.Device));
  app_.EntryFormat = Hexadecimal(target) ? kHexFormat : kDecFormat;
}

int Session::Run(const Command& command) {
  if (const auto* list = std::get_if<ListCommand>(&command)) return List(*list);
  if (const auto* wait = std::get_if<WaitCommand>(&command)) {
    std::this_thread::sleep_for(ParseDuration(wait->Duration));
    return kSuccess;
  }
  if (const int status = Connect(); status != kSuccess) return status;
  if (const auto* set = std::get_if<SetCommand>(&command)) return Set(*set);
  if (const auto* serve = std::get_if<ServeCommand>(&command)) return Serve(*serve);
  if (const auto* sweep = std::get_if<SweepCommand>(&command)) return Sweep(*sweep);
  return Raw(std::get<RawCommand>(command));
}

int Session::List(const ListCommand& command) {
  const Output output = ParseOutput(command.Output);
  std::string table = ModelHeader(output);
  for (const auto& device : dac::DeviceTable)
    table += ModelLine(output, {device.Label, device.FrameBits, device.DataBits});
  Emit(out_, "standard output", table);
  return kSuccess;
}

FrameRecord Session::Record(const Target& target, std::int64_t code,
                            std::optional<double> vref) const {
  const link::FrameRequest request = link::PackFrame(app_.FrameBits, app_.DacWord);
  FrameRecord record;
  record.Device = Device(target.Device).Label;
  record.Mode = PowerDownName(app_.PowerDownCode);
  record.Code = code;
  record.Word = app_.DacWord;
  record.Value = request.value;
  record.Index = request.index;
  record.Status = app_.LinkStatus;
  record.HasVref = vref.has_value();
  if (vref && app_.PowerDownCode == 0)
    record.Volts =
        *vref * (app_.DacWord & ((1 << app_.DataBits) - 1)) / std::ldexp(1.0, app_.DataBits);
  return record;
}

int Session::Set(const SetCommand& command) {
  Choose(command.Dac);
  const std::int32_t code = PowerDownCode(command.Dac.PowerDown);
  const Output output = ParseOutput(command.Output);
  if (output == Output::Csv)
    Emit(out_, "standard output", CsvHeader(false, command.Vref.has_value()));
  for (const auto& value : command.Values) {
    const std::int64_t checked = ParseCode(value, app_.EntryFormat == kHexFormat);
    const std::string box = SendCode(app_, checked, code);
    const FrameRecord record = Record(command.Dac, checked, command.Vref);
    if (output == Output::Csv) {
      Emit(out_, "standard output", CsvRow(record));
    } else if (output == Output::Json) {
      Emit(out_, "standard output", JsonLine(record));
    } else {
      const std::string volts = !record.HasVref ? ""
                                : record.Volts
                                    ? fmt::format("  output {:.6f} V", *record.Volts)
                                    : fmt::format("  output: power-down, {}", ModeCaption(code));
      Emit(out_, "standard output",
           fmt::format("{:<6}  word 0x{:06X}  value 0x{:04X}  index 0x{:04X}{}\n", box,
                       static_cast<std::uint32_t>(record.Word), record.Value, record.Index, volts));
    }
    if (app_.LinkStatus != 0) return Refused(app_.LinkStatus, value);
  }
  return kSuccess;
}

int Session::Sweep(const SweepCommand& command) {
  Choose(command.Dac);
  const bool hex = Hexadecimal(command.Dac);
  const std::int64_t from = ParseCode(command.First, hex);
  const std::int64_t to = ParseCode(command.Last, hex);
  const std::int64_t step = std::abs(ParseCode(command.Step, hex)) * (from <= to ? 1 : -1);
  const auto dwell = ParseDuration(command.Dwell);
  const std::int32_t code = PowerDownCode(command.Dac.PowerDown);

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
  const std::int64_t perPass = (to - from) / step + 1;
  Progress progress(perPass * command.Repeat, csv == out_ && IsTerminal(out_));
  const StopOnSignals stopOnSignals;
  const auto start = std::chrono::steady_clock::now();
  std::string box;
  std::int64_t sent = 0;
  bool refused = false;
  for (int pass = 0; pass < command.Repeat && !interrupted && !refused; ++pass) {
    for (std::int64_t i = 0; i < perPass && !interrupted && !refused; ++i) {
      const std::int64_t value = from + i * step;
      box = SendCode(app_, value, code);
      FrameRecord record = Record(command.Dac, value, command.Vref);
      record.Elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      Emit(csv, csvName, CsvRow(record));
      progress.Update(++sent);
      refused = app_.LinkStatus != 0;
      if (!refused && dwell.count() > 0) std::this_thread::sleep_for(dwell);
    }
  }
  progress.Finish();
  if (file && std::fclose(file.release()) != 0)
    throw WriteError{"cannot write " + csvName + ": " + std::strerror(errno)};
  if (refused) return Refused(app_.LinkStatus, box);
  if (interrupted) {
    fmt::print(stderr, "ktdac: interrupted: {} of {} frames sent\n", sent,
               perPass * command.Repeat);
    return 128 + interrupted;
  }
  return kSuccess;
}

int Session::Raw(const RawCommand& command) {
  const auto [bits, data] = RawFrameText(command);
  const dac::RawFrame frame = dac::ReadRawFrame(bits, data);
  SendRawFrame(app_, frame.FrameBits, frame.Word);
  const link::FrameRequest request = link::PackFrame(app_.FrameBits, app_.DacWord);
  Emit(out_, "standard output",
       fmt::format("bits {}  word 0x{:08X}  value 0x{:04X}  index 0x{:X}  status {}\n",
                   frame.FrameBits, static_cast<std::uint32_t>(frame.Word),
                   static_cast<std::uint32_t>(request.value),
                   static_cast<std::uint32_t>(request.index), app_.LinkStatus));
  if (app_.LinkStatus != 0) return Refused(app_.LinkStatus, command.Data);
  return kSuccess;
}

namespace {

// @brief The board as the SCPI commands drive it: codes through the windows' update, raw
// frames as the SPI test window writes them.
class UpdateBoard : public scpi::Board {
 public:
  explicit UpdateBoard(AppState& app) : app_(app) { app_.EntryFormat = kHexFormat; }

  std::vector<std::string> Devices() const override {
    std::vector<std::string> labels;
    for (const auto& device : dac::DeviceTable) labels.emplace_back(device.Label);
    return labels;
  }
  std::string Device() const override { return device_; }
  void SelectDevice(const std::string& label) override {
    dac::SelectDevice(app_, cli::Device(label));
    device_ = label;
    code_ = std::min(code_, (1 << app_.DataBits) - 1);
  }
  int DataBits() const override { return app_.DataBits; }
  std::int32_t Code() const override { return code_; }
  std::int32_t PowerDown() const override { return app_.PowerDownCode; }
  std::int16_t Send(std::int32_t code, std::int32_t powerDown) override {
    SendCode(app_, code, powerDown);
    code_ = code;
    return app_.LinkStatus;
  }
  std::int16_t SendRaw(std::int16_t bits, std::int32_t word) override {
    SendRawFrame(app_, bits, word);
    dac::SelectDevice(app_, cli::Device(device_));  // the next code goes out in the model's frame
    return app_.LinkStatus;
  }
  std::int16_t Status() const override { return app_.LinkStatus; }
  std::string Identity() const override {
    return fmt::format("Corvane,KT31X-KT300 evaluation board,0,{}", KT_VERSION_TEXT);
  }

 private:
  AppState& app_;
  std::string device_ = "KT310";
  std::int32_t code_ = 0;
};

}  // namespace

int Session::Serve(const ServeCommand& command) {
  UpdateBoard board(app_);
  board.SelectDevice(Device(command.Device).Label);
  return cli::Serve(ParseListen(command.Listen), board, stderr);
}

}  // namespace kt::cli
