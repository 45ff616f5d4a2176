// SPDX-License-Identifier: MIT
#include "cli/options.h"

#include <fmt/format.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "console/parsing.h"
#include "core/error.h"
#include "dac/entry_logic.h"
#include "dac/readings.h"

namespace kt::cli {

namespace {

const dac::DeviceProfile& Device(const std::string& label) {
  if (const dac::DeviceProfile* device = dac::FindDevice(label)) return *device;
  throw UsageError{"unknown device \"" + label + "\""};
}

bool Hexadecimal(const Target& target) { return target.Format == "hex"; }

// The raw frame, its two texts checked strictly: the length a whole decimal number, the data
// one to eight hexadecimal digits (0x in front allowed). Raises UsageError.
dac::RawFrame CheckRawFrame(const RawCommand& raw) {
  const bool bits =
      !raw.Bits.empty() &&
      raw.Bits.find_first_not_of("0123456789", raw.Bits[0] == '-' ? 1 : 0) == std::string::npos &&
      raw.Bits != "-";
  if (!bits) throw UsageError{"--bits " + raw.Bits + " is not a whole number"};
  std::string data = raw.Data;
  if (data.size() > 2 && data[0] == '0' && (data[1] == 'x' || data[1] == 'X')) data.erase(0, 2);
  if (data.empty() || data.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    throw UsageError{"--data " + raw.Data + " is not hexadecimal digits"};
  dac::RawFrame frame{};
  try {
    frame = dac::ReadRawFrame(raw.Bits, data);
  } catch (const Error& error) {
    throw UsageError{error.what()};
  }
  if (static_cast<std::uint32_t>(frame.Word) > dac::kLargestRequestData)
    throw UsageError{
        fmt::format("--data {} is wider than the 24 bits a frame request carries "
                    "(at most FFFFFF)",
                    raw.Data)};
  return frame;
}

Dac CheckTarget(const Target& target) {
  const dac::DeviceProfile& device = Device(target.Device);
  const dac::PowerDownMode& mode = PowerDown(target.PowerDown);
  if (target.Format != "hex" && target.Format != "dec")
    throw UsageError{"--format is hex or dec, not \"" + target.Format + "\""};
  return {&device, &mode, Hexadecimal(target)};
}

void AddOutput(CLI::App& command, std::string& output) {
  command.add_option("--output", output, "how to print: text, csv or json (one object a line)")
      ->capture_default_str()
      ->check(CLI::IsMember({"text", "csv", "json"}, CLI::ignore_case));
}

// A reference voltage must be one a DAC can have.
void ValidateVref(const std::optional<double>& vref) {
  if (!vref) return;
  if (std::string why = dac::ReferenceRefusal(*vref, fmt::format("--vref {}", *vref)); !why.empty())
    throw UsageError{std::move(why)};
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

Characterizing CheckCharacterize(const CharacterizeCommand& command) {
  const Dac target = CheckTarget({command.Device, "normal", command.Format});
  ValidateVref(command.Vref);
  if (command.Average < 1) throw UsageError{"--average must be 1 or more"};
  if (command.Output.empty()) throw UsageError{"--output names no folder"};
  if (command.Query.empty()) throw UsageError{"--meter-query is empty"};
  if (!(std::isfinite(command.Nplc) && command.Nplc > 0))
    throw UsageError{fmt::format("--meter-nplc {} is not a positive number", command.Nplc)};
  std::optional<double> range;
  if (!command.Range.empty()) {
    char* end = nullptr;
    range = std::strtod(command.Range.c_str(), &end);
    if (*end != '\0' || !(std::isfinite(*range) && *range > 0))
      throw UsageError{"--meter-range " + command.Range + " is not a positive voltage"};
  }
  meter::Settings settings;
  settings.Setup = command.Setup;
  settings.Query = command.Query;
  const auto timeout = ParseDuration(command.Timeout);
  if (timeout.count() <= 0) throw UsageError{"--meter-timeout must be longer than 0"};
  if (timeout < std::chrono::milliseconds(1))
    throw UsageError{"--meter-timeout " + command.Timeout +
                     " is shorter than the millisecond the meter's waits are counted in"};
  settings.Timeout = std::chrono::duration_cast<std::chrono::milliseconds>(timeout);
  meter::Resource resource;
  try {
    resource = meter::ParseResource(command.Meter);
  } catch (const Error& error) {
    throw UsageError{error.what()};
  }
  return {target,
          {command.Vref,
           characterize::ParseCodePlan(command.Codes, target.Hexadecimal,
                                       dac::LastCode(*target.Device)),
           ParseDuration(command.Settle), command.Average, command.Output, command.Resume, resource,
           settings, range, command.Nplc}};
}

}  // namespace

CLI::Validator NonEmptyPath() {
  return {[](std::string& path) {
            return path.empty() ? std::string("an empty path names no file") : std::string();
          },
          "PATH"};
}

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
  sweepCommand->add_option("--csv", sweep->Csv, "write the rows here, not to standard output")
      ->check(NonEmptyPath());
  sweepCommand->add_option("--vref", sweep->Vref, "reference voltage: add each ideal output");
  sweepCommand->final_callback([&command, sweep] { command = *sweep; });

  auto play = std::make_shared<PlayCommand>();
  CLI::App* playCommand =
      app.add_subcommand("play", "play a waveform, a shape or a file's samples, at a set rate");
  AddPlayOptions(*playCommand, *play);
  playCommand->final_callback([&command, play] { command = *play; });

  auto raw = std::make_shared<RawCommand>();
  CLI::App* rawCommand = app.add_subcommand("raw", "one raw frame, as the SPI test window sends");
  rawCommand->add_option("--bits", raw->Bits, "bits in the frame")->required();
  rawCommand->add_option("--data", raw->Data, "frame data, hexadecimal")->required();
  rawCommand->final_callback([&command, raw] { command = *raw; });

  auto characterize = std::make_shared<CharacterizeCommand>();
  CLI::App* characterizeCommand = app.add_subcommand(
      "characterize",
      "measure offset, gain, INL and DNL with a bench meter; write a CSV, summaries and a report");
  std::vector<std::string> devices;
  for (const auto& device : dac::DeviceTable) devices.emplace_back(device.Label);
  characterizeCommand
      ->add_option("--device", characterize->Device, "KT300, KT310, KT311, KT312 or KT313")
      ->capture_default_str()
      ->check(CLI::IsMember(devices, CLI::ignore_case));
  characterizeCommand
      ->add_option("--meter", characterize->Meter,
                   "the meter: TCPIP::HOST[::PORT]::SOCKET (port 5025 unless given) or HOST:PORT")
      ->required();
  characterizeCommand->add_option(
      "--vref", characterize->Vref,
      "the DAC's reference, volts (needed unless the board tells it, as an IIO DAC does)");
  characterizeCommand
      ->add_option("--codes", characterize->Codes,
                   "all, every:N, codes and ranges, or a list of these (every:64,7FF0-8010); "
                   "both ends always")
      ->capture_default_str();
  characterizeCommand
      ->add_option("--format", characterize->Format, "how codes in --codes are read: hex or dec")
      ->capture_default_str()
      ->check(CLI::IsMember({"hex", "dec"}));
  characterizeCommand->add_option("--settle", characterize->Settle, "wait after each frame")
      ->capture_default_str();
  characterizeCommand->add_option("--average", characterize->Average, "readings per code")
      ->capture_default_str();
  characterizeCommand
      ->add_option("--output", characterize->Output,
                   "folder for characterization.csv, summary.txt, summary.json, the plots and "
                   "report.html")
      ->capture_default_str();
  characterizeCommand->add_flag("--resume", characterize->Resume,
                                "continue the interrupted run whose CSV is in --output");
  characterizeCommand->add_option("--meter-range", characterize->Range,
                                  "the meter's DC voltage range, volts (default: the smallest "
                                  "of 1, 10, 100, 1000 that holds vref)");
  characterizeCommand
      ->add_option("--meter-nplc", characterize->Nplc, "integration time, power-line cycles")
      ->capture_default_str();
  characterizeCommand->add_option(
      "--meter-setup", characterize->Setup,
      "a configuration command, in place of the default *RST, *CLS, CONF:VOLT:DC, "
      "VOLT:DC:NPLC; repeatable");
  characterizeCommand->add_option("--meter-query", characterize->Query, "the reading query")
      ->capture_default_str();
  characterizeCommand
      ->add_option("--meter-timeout", characterize->Timeout, "for each exchange with the meter")
      ->capture_default_str();
  characterizeCommand->final_callback([&command, characterize] { command = *characterize; });

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
    serveCommand->add_flag("--no-announce", serve->NoAnnounce,
                           "do not announce the server on the network by DNS-SD");
    serveCommand->add_flag("--no-vxi11", serve->NoVxi11,
                           "serve the raw socket alone, without VXI-11's ::INSTR channel");
    serveCommand->add_option("--http", serve->Http,
                             "[ADDRESS:]PORT of the instrument's web page (LXI tools expect 80); "
                             "the address is --listen's unless given");
    serveCommand->final_callback([&command, serve] { command = *serve; });
  }

  if (script) {
    auto wait = std::make_shared<WaitCommand>();
    CLI::App* waitCommand = app.add_subcommand("wait", "pause the script");
    waitCommand->add_option("duration", wait->Duration, "how long (10ms, 2s)")->required();
    waitCommand->final_callback([&command, wait] { command = *wait; });
  }
}

Checked Check(const Command& command) {
  if (const auto* list = std::get_if<ListCommand>(&command))
    return Listing{ParseOutput(list->Output)};
  if (const auto* set = std::get_if<SetCommand>(&command)) {
    Setting checked{CheckTarget(set->Dac), set->Vref, Output::Text, {}};
    ValidateVref(set->Vref);
    checked.Form = ParseOutput(set->Output);
    // Strictly: a typo must not reach the board. Whole numbers in the format (0x always
    // hexadecimal), within the device's range unless clamping was asked for.
    const std::int32_t last = dac::LastCode(*checked.Target.Device);
    const bool hex = checked.Target.Hexadecimal;
    for (const auto& value : set->Values) {
      const std::int64_t code = ParseCode(value, hex);
      // The entry box reads hexadecimal text from 80000000 as a negative number (which
      // clamps to 0); decimal text must fit the signed 32-bit range.
      if (!hex && code > INT32_MAX)
        throw UsageError{
            fmt::format("value {} is beyond the signed 32-bit range a decimal entry holds", value)};
      if (code > last && !set->Clamp) {
        const std::int32_t clamped =
            dac::ClampCode(EntryValue(code, hex), checked.Target.Device->DataBits);
        throw UsageError{
            fmt::format("value {} is beyond the {}'s last code 0x{:X} (--clamp sends 0x{:X}{})",
                        value, set->Dac.Device, last, clamped,
                        clamped == 0 ? ", as the entry box reads it as a negative number" : "")};
      }
      checked.Codes.push_back({value, code});
    }
    return checked;
  }
  if (const auto* sweep = std::get_if<SweepCommand>(&command)) {
    const Dac target = CheckTarget(sweep->Dac);
    ValidateVref(sweep->Vref);
    const bool hex = target.Hexadecimal;
    const std::int32_t last = dac::LastCode(*target.Device);
    const auto bound = [&](const char* name, const std::string& text) {
      const std::int64_t code = ParseCode(text, hex);
      if (code > last)
        throw UsageError{fmt::format("{} {} is beyond the {}'s last code 0x{:X}", name, text,
                                     sweep->Dac.Device, last)};
      return code;
    };
    const std::int64_t from = bound("--from", sweep->First);
    const std::int64_t to = bound("--to", sweep->Last);
    const std::int64_t step = ParseCode(sweep->Step, hex);
    if (step == 0) throw UsageError{"--step must not be 0"};
    const auto dwell = ParseDuration(sweep->Dwell);
    if (sweep->Repeat < 1) throw UsageError{"--repeat must be 1 or more"};
    return Sweeping{
        target,     from,          to,         std::abs(step) * (from <= to ? 1 : -1), dwell,
        sweep->Csv, sweep->Repeat, sweep->Vref};
  }
  if (const auto* raw = std::get_if<RawCommand>(&command)) {
    return RawSending{CheckRawFrame(*raw), raw->Data};
  }
  if (const auto* wait = std::get_if<WaitCommand>(&command))
    return Waiting{ParseDuration(wait->Duration)};
  if (const auto* characterize = std::get_if<CharacterizeCommand>(&command))
    return CheckCharacterize(*characterize);
  if (const auto* play = std::get_if<PlayCommand>(&command)) return CheckPlay(*play);
  const auto& serve = std::get<ServeCommand>(command);
  const dac::DeviceProfile& device = Device(serve.Device);
  try {
    remote::Listen where = remote::ParseListen(serve.Listen);
    where.Announce = !serve.NoAnnounce;
    where.Vxi11 = !serve.NoVxi11;
    if (!serve.Http.empty()) remote::ParseHttp(serve.Http, where);
    return Serving{&device, where};
  } catch (const Error& error) {
    throw UsageError{error.what()};
  }
}

}  // namespace kt::cli
