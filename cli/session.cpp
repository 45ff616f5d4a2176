// SPDX-License-Identifier: MIT
#include "cli/session.h"

#include <fmt/format.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "characterize/run.h"
#include "cli/remote_board.h"
#include "console/parsing.h"
#include "console/progress.h"
#include "console/stop.h"
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

// What carried a frame, for the text output; "not sent" when nothing went out.
std::string Carried(const link::SentFrame& sent) {
  return sent.Carried.empty() ? std::string("not sent") : sent.Carried;
}

// Each line of a text, said as ktdac's.
void Say(const std::string& text) {
  std::size_t from = 0;
  for (std::size_t end = text.find('\n'); from <= text.size(); end = text.find('\n', from)) {
    if (end == std::string::npos) end = text.size();
    fmt::print(stderr, "ktdac: {}\n", text.substr(from, end - from));
    from = end + 1;
  }
}

// The record of a code sent, for the CSV and JSON lines.
FrameRecord Record(const Dac& target, std::int64_t code, const Session::Sent& sent,
                   std::optional<double> vref) {
  FrameRecord record;
  record.Device = target.Device->Label;
  record.Mode = target.Mode->Name;
  record.Code = code;
  record.Word = sent.Frame.Word;
  if (const auto& request = sent.Result.Request) {
    record.Value = static_cast<std::uint16_t>(request->value);
    record.Index = static_cast<std::uint16_t>(request->index);
  }
  record.Status = sent.Result.Status;
  record.HasVref = vref.has_value();
  if (vref && target.Mode->Code == 0)
    record.Volts = dac::IdealVolts(sent.Frame.Word & dac::LastCode(*target.Device),
                                   target.Device->DataBits, *vref);
  return record;
}

// The DAC a characterization measures: the session's board, codes sent by the same rules as
// the other commands.
class MeasuredDac : public characterize::DacUnderTest {
 public:
  MeasuredDac(Session& session, const Dac& target) : session_(session), target_(target) {}
  const dac::DeviceProfile& Device() const override { return *target_.Device; }
  std::string Board() const override { return session_.Board().Description(); }
  bool TellsReference() const override { return session_.Board().TellsReference(); }
  int Connect(std::optional<double> vref) override {
    return session_.Connect(target_.Device, vref);
  }
  std::optional<double> Reference(const std::optional<double>& given) override {
    return session_.Reference(given, target_.Device->DataBits);
  }
  Sent Send(std::int32_t code) override {
    const Session::Sent sent = session_.SendCode(target_, code);
    return {sent.Frame.Word, sent.Result.Status, sent.Result.Failure};
  }

 private:
  Session& session_;
  Dac target_;
};

}  // namespace

int Refused(const link::SentFrame& sent, const std::string& what) {
  fmt::print(stderr, "ktdac: the board refused the frame of {} (status {}){}\n", what, sent.Status,
             sent.Failure.empty() ? "" : ": " + sent.Failure);
  return kFrameRefused;
}

Session::Session(link::Board& board, std::FILE* out) : board_(board), out_(out) {}

Session::Sent Session::Unsent(const Dac& target, std::int64_t code) {
  const std::int32_t value =
      dac::ClampCode(EntryValue(code, target.Hexadecimal), target.Device->DataBits);
  return {dac::NormalisedText(value, target.Hexadecimal),
          dac::DeviceFrame(*target.Device, target.Mode->Code, value),
          {}};
}

Session::Sent Session::SendCode(const Dac& target, std::int64_t code) {
  Sent sent = Unsent(target, code);
  sent.Result = board_.Send(sent.Frame);
  return sent;
}

int Session::Connect(const dac::DeviceProfile* device, std::optional<double> vref) {
  if (connected_) return kSuccess;
  std::optional<link::Model> model;
  if (device) model = link::Model{device->Label, device->FrameBits, device->DataBits, vref};
  if (!board_.Connect(model)) {
    Say(board_.ConnectionDiagnosis());
    return kConnectionFailure;
  }
  connected_ = true;
  return kSuccess;
}

std::optional<double> Session::Reference(const std::optional<double>& given,
                                         std::int16_t dataBits) {
  const std::optional<double> told = board_.ReferenceVolts(dataBits);
  if (!given) return told;
  if (told && std::fabs(*given - *told) > 0.001 * *told)
    fmt::print(stderr,
               "ktdac: warning: --vref {} V differs from {:.6g} V, the reference {} gives; "
               "--vref is used\n",
               *given, *told, board_.ReferenceSource());
  return given;
}

int Session::Run(const Checked& command) {
  if (const auto* list = std::get_if<Listing>(&command)) return List(*list);
  if (const auto* wait = std::get_if<Waiting>(&command)) {
    if (!WaitUnlessStopped(wait->Duration)) return 128 + StopSignal();
    return kSuccess;
  }
  if (const auto* measuring = std::get_if<Characterizing>(&command)) {
    MeasuredDac dac(*this, measuring->Target);
    return characterize::Measure(dac, measuring->Run, out_);
  }
  if (const auto* set = std::get_if<Setting>(&command)) {
    if (const int status = Connect(set->Target.Device, set->Vref); status != kSuccess)
      return status;
    return Set(*set);
  }
  if (const auto* serve = std::get_if<Serving>(&command)) {
    if (const int status = Connect(serve->Device); status != kSuccess) return status;
    return Serve(*serve);
  }
  if (const auto* playing = std::get_if<Playing>(&command)) return cli::Play(*this, *playing, out_);
  if (const auto* sweep = std::get_if<Sweeping>(&command)) {
    if (const int status = Connect(sweep->Target.Device, sweep->Vref); status != kSuccess)
      return status;
    return Sweep(*sweep);
  }
  const auto& raw = std::get<RawSending>(command);
  // A board that cannot send raw frames refuses before anything is sent.
  if (const std::string refusal = board_.RawRefusal(raw.Frame.FrameBits); !refusal.empty())
    throw UsageError{"raw: " + refusal};
  if (const int status = Connect(nullptr); status != kSuccess) return status;
  return Raw(raw);
}

int Session::List(const Listing& command) {
  std::string table = ModelHeader(command.Form);
  for (const auto& device : dac::DeviceTable)
    table += ModelLine(command.Form, {device.Label, device.FrameBits, device.DataBits});
  Emit(out_, "standard output", table);
  return kSuccess;
}

int Session::Set(const Setting& command) {
  const std::optional<double> vref = Reference(command.Vref, command.Target.Device->DataBits);
  if (command.Form == Output::Csv)
    Emit(out_, "standard output", CsvHeader(false, vref.has_value()));
  for (const Code& code : command.Codes) {
    const Sent sent = SendCode(command.Target, code.Value);
    const FrameRecord record = Record(command.Target, code.Value, sent, vref);
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
           fmt::format("{:<6}  word 0x{:06X}  {}{}\n", sent.Box,
                       static_cast<std::uint32_t>(record.Word), Carried(sent.Result), volts));
    }
    if (sent.Result.Status != 0) return Refused(sent.Result, code.Text);
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
  const std::optional<double> vref = Reference(command.Vref, command.Target.Device->DataBits);
  Emit(csv, csvName, CsvHeader(true, vref.has_value()));
  const std::int64_t perPass = (command.To - command.From) / command.Step + 1;
  Progress progress(perPass * command.Repeat, csv == out_ && IsTerminal(out_));
  const StopOnSignals stopOnSignals;
  const auto start = std::chrono::steady_clock::now();
  Sent sent;
  std::int64_t count = 0;
  bool refused = false;
  // Without a dwell, frames go out in runs where the board sends many in one go; each still
  // has its row, written once its run has gone out.
  const std::int64_t run =
      command.Dwell.count() > 0 ? 1 : static_cast<std::int64_t>(board_.RunLength());
  std::vector<Sent> codes;
  std::vector<Frame> frames;
  for (int pass = 0; pass < command.Repeat && !StopSignal() && !refused; ++pass) {
    for (std::int64_t i = 0; i < perPass && !StopSignal() && !refused;) {
      const std::int64_t first = i, length = std::min(run, perPass - i);
      codes.clear();
      frames.clear();
      for (; i < first + length; ++i) {
        codes.push_back(Unsent(command.Target, command.From + i * command.Step));
        frames.push_back(codes.back().Frame);
      }
      const std::vector<link::SentFrame> results = board_.SendRun(frames);
      const double elapsed =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      for (std::size_t k = 0; k < results.size(); ++k) {
        sent = codes[k];
        sent.Result = results[k];
        FrameRecord record = Record(
            command.Target, command.From + (first + static_cast<std::int64_t>(k)) * command.Step,
            sent, vref);
        record.Elapsed = elapsed;
        Emit(csv, csvName, CsvRow(record));
        progress.Update(++count);
        refused = sent.Result.Status != 0;
      }
      if (!refused && command.Dwell.count() > 0) WaitUnlessStopped(command.Dwell);
    }
  }
  progress.Finish();
  if (file && std::fclose(file.release()) != 0)
    throw WriteError{"cannot write " + csvName + ": " + std::strerror(errno)};
  if (refused) return Refused(sent.Result, sent.Box);
  if (const int signal = StopSignal()) {
    fmt::print(stderr, "ktdac: interrupted: {} of {} frames sent\n", count,
               perPass * command.Repeat);
    return 128 + signal;
  }
  return kSuccess;
}

int Session::Raw(const RawSending& command) {
  const dac::RawFrame& frame = command.Frame;
  const link::SentFrame sent = board_.SendRaw({frame.FrameBits, frame.Word});
  Emit(out_, "standard output",
       fmt::format("bits {}  word 0x{:08X}  {}  status {}\n", frame.FrameBits,
                   static_cast<std::uint32_t>(frame.Word), Carried(sent), sent.Status));
  if (sent.Status != 0) return Refused(sent, command.Data);
  return kSuccess;
}

int Session::Serve(const Serving& command) {
  RemoteBoard board(*this, *command.Device);
  return remote::Serve(command.Where, board, stderr);
}

}  // namespace kt::cli
