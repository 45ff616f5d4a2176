// SPDX-License-Identifier: MIT
// The command table and one handler per command.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "dac/device_table.h"
#include "dac/power_down.h"
#include "dac/raw_frame.h"
#include "scpi/session.h"

namespace kt::remote {

namespace {

// The power-down modes as character data, in the order of their codes 0..3.
const std::vector<Node>& Modes() {
  static const std::vector<Node> modes = [] {
    std::vector<Node> nodes(dac::kPowerDownModes.size());
    for (const auto& mode : dac::kPowerDownModes)
      nodes.at(static_cast<std::size_t>(mode.Code)) = Pattern(mode.Scpi).front();
    return nodes;
  }();
  return modes;
}

std::string Entry(const QueuedError& error) { return ErrorEntry(error.Code, error.Text); }

}  // namespace

const std::vector<Session::Command>& Session::Commands() {
  static const std::vector<Command> commands{
      {Pattern("*CLS"), true, false, 0, &Session::Clear},
      {Pattern("*ESE"), true, true, 1, &Session::EventEnable},
      {Pattern("*ESR"), false, true, 0, &Session::EventStatusRead},
      {Pattern("*IDN"), false, true, 0, &Session::Identify},
      {Pattern("*OPC"), true, true, 0, &Session::OperationComplete},
      {Pattern("*RST"), true, false, 0, &Session::Reset},
      {Pattern("*SRE"), true, true, 1, &Session::ServiceEnable},
      {Pattern("*STB"), false, true, 0, &Session::StatusByteRead},
      {Pattern("*TST"), false, true, 0, &Session::SelfTestCommand},
      {Pattern("*WAI"), true, false, 0, &Session::Wait},
      {Pattern("SYSTem:ERRor[:NEXT]"), false, true, 0, &Session::NextError},
      {Pattern("SYSTem:ERRor:COUNt"), false, true, 0, &Session::ErrorCount},
      {Pattern("SYSTem:ERRor:ALL"), false, true, 0, &Session::AllErrors},
      {Pattern("SYSTem:VERSion"), false, true, 0, &Session::Version},
      {Pattern("[SOURce:]DAC:DEVice"), true, true, 1, &Session::DeviceCommand},
      {Pattern("[SOURce:]DAC:CODE"), true, true, 1, &Session::CodeCommand},
      {Pattern("[SOURce:]DAC:PDOWn"), true, true, 1, &Session::PowerDownCommand},
      {Pattern("[SOURce:]VOLTage:REFerence"), true, true, 1, &Session::Reference},
      {Pattern("[SOURce:]VOLTage"), true, true, 1, &Session::Voltage},
      {Pattern("[SOURce:]DAC:RAW"), true, false, 2, &Session::Raw},
      {Pattern("[SOURce:]DAC:STATus"), false, true, 0, &Session::BoardStatus},
      {Pattern("[SOURce:]FUNCtion[:SHAPe]"), true, true, 1, &Session::Function},
      {Pattern("[SOURce:]FREQuency"), true, true, 1, &Session::Frequency},
      {Pattern("[SOURce:]VOLTage:AMPLitude"), true, true, 1, &Session::Amplitude},
      {Pattern("[SOURce:]VOLTage:OFFSet"), true, true, 1, &Session::Offset},
      {Pattern("[SOURce:]FUNCtion:SRATe"), true, true, 1, &Session::SampleRate},
      {Pattern("[SOURce:]BURSt:NCYCles"), true, true, 1, &Session::Cycles},
      {Pattern("[SOURce:]DATA:DAC"), true, false, kList, &Session::UserData},
      {Pattern("[SOURce:]DATA:DAC:POINts"), false, true, 0, &Session::UserPoints},
      {Pattern("FORMat:BORDer"), true, true, 1, &Session::ByteOrder},
      {Pattern("OUTPut[:STATe]"), true, true, 1, &Session::Output},
      {Pattern("ABORt"), true, false, 0, &Session::Abort},
  };
  return commands;
}

bool Session::Whole(const std::string& text, double low, double high, const char* what,
                    std::int64_t& out) {
  const Number number = ReadNumber(text);
  if (number.Error) {
    Queue(number.Error, fmt::format("{} {}", what, text));
    return false;
  }
  if (number.Value != std::floor(number.Value)) {
    Queue(-224, fmt::format("{} {} is not a whole number", what, text));
    return false;
  }
  if (number.Value < low || number.Value > high) {
    Queue(-222, fmt::format("{} {} is outside {}..{}", what, text, FormatNumber(low),
                            FormatNumber(high)));
    return false;
  }
  out = static_cast<std::int64_t>(number.Value);
  return true;
}

bool Session::Mask(const std::string& text, const char* what, std::uint8_t& out) {
  const Number number = ReadNumber(text);
  if (number.Error) {
    Queue(number.Error, fmt::format("{} {}", what, text));
    return false;
  }
  const double rounded = std::nearbyint(number.Value);
  if (!(rounded >= 0 && rounded <= 255)) {
    Queue(-222, fmt::format("{} {} is outside 0..255", what, text));
    return false;
  }
  out = static_cast<std::uint8_t>(rounded);
  return true;
}

void Session::Send(std::int32_t code, std::int32_t mode) {
  if (Busy("a frame")) return;
  if (const std::int16_t status = board_.Send(code, mode); status != 0) Refused(status);
}

void Session::Refused(std::int16_t status) {
  const std::string why = board_.Failure();
  Queue(-300, fmt::format("the board refused the frame, status {}{}", status,
                          why.empty() ? "" : ": " + why));
}

std::optional<double> Session::Vref() const { return vref_ ? vref_ : board_.Reference(); }

void Session::Identify(const Call& call) { call.Answers.push_back(board_.Identity()); }

// As the main window opens: 0, "Normal"; a waveform playing is stopped and its setup
// forgotten.
void Session::Reset(const Call&) {
  ++*opcAsked_;
  if (Generator* generator = board_.Waveform()) {
    generator->Stop();
    generator->Setup = {};
  }
  Send(0, 0);
}

void Session::Clear(const Call&) {
  errors_.clear();
  events_ = 0;
  ++*opcAsked_;
}

// Every command runs to completion before the next is read, so an operation is complete as
// soon as *OPC is reached, and *WAI has nothing to wait for; but for a waveform of a set
// length, whose *OPC? answer the server holds, and whose *OPC sets the bit, once it has
// played.
void Session::OperationComplete(const Call& call) {
  Generator* generator = board_.Waveform();
  const bool pending = generator && generator->Finishing();
  if (call.Query()) {
    held_ = held_ || pending;
    call.Answers.push_back("1");
  } else if (pending) {
    generator->WhenIdle(
        [this, asked = std::weak_ptr<std::uint64_t>(opcAsked_), which = ++*opcAsked_] {
          if (const auto last = asked.lock(); last && *last == which) events_ |= kOperationComplete;
        });
  } else {
    ++*opcAsked_;
    events_ |= kOperationComplete;
  }
}

void Session::Wait(const Call&) {}

void Session::EventEnable(const Call& call) {
  if (call.Query()) {
    call.Answers.push_back(std::to_string(eventEnable_));
    return;
  }
  Mask(call.Value(), "event status enable", eventEnable_);
}

void Session::EventStatusRead(const Call& call) {
  call.Answers.push_back(std::to_string(events_));
  events_ = 0;  // reading clears it
}

void Session::ServiceEnable(const Call& call) {
  if (call.Query()) {
    call.Answers.push_back(std::to_string(serviceEnable_));
    return;
  }
  std::uint8_t mask = 0;
  if (Mask(call.Value(), "service request enable", mask))
    serviceEnable_ = mask & ~kServiceRequest;  // bit 6 cannot be enabled
}

void Session::StatusByteRead(const Call& call) {
  call.Answers.push_back(std::to_string(Status(!call.Answers.empty())));
}

void Session::SelfTestCommand(const Call& call) {
  if (Busy("a self-test")) return;
  const Board::Check check = board_.SelfTest();
  if (check.Status != 0)
    Queue(-330, fmt::format("{}: the board library returned status {}", check.What, check.Status));
  call.Answers.push_back(check.Status == 0 ? "0" : "1");
}

void Session::NextError(const Call& call) {
  if (errors_.empty()) {
    call.Answers.push_back("0,\"No error\"");
    return;
  }
  call.Answers.push_back(Entry(errors_.front()));
  errors_.pop_front();
}

void Session::ErrorCount(const Call& call) {
  call.Answers.push_back(std::to_string(errors_.size()));
}

void Session::AllErrors(const Call& call) {
  if (errors_.empty()) {
    call.Answers.push_back("0,\"No error\"");
    return;
  }
  std::string all;
  for (const QueuedError& error : errors_) {
    if (!all.empty()) all += ',';
    all += Entry(error);
  }
  errors_.clear();
  call.Answers.push_back(all);
}

void Session::Version(const Call& call) { call.Answers.push_back("1999.0"); }

void Session::DeviceCommand(const Call& call) {
  if (call.Query()) {
    call.Answers.push_back(board_.Device());
    return;
  }
  const dac::DeviceProfile* device = dac::FindDevice(call.Value());
  if (!device) {
    Queue(-224, "device " + call.Value());
    return;
  }
  if (Busy("another device")) return;
  board_.SelectDevice(device->Label);
}

void Session::CodeCommand(const Call& call) {
  if (call.Query()) {
    call.Answers.push_back(std::to_string(board_.Code()));
    return;
  }
  const double max = dac::LastCode(static_cast<std::int16_t>(board_.DataBits()));
  std::int64_t code = 0;
  const std::string upper = Upper(call.Value());
  if (upper == "MIN" || upper == "MINIMUM") {
    code = 0;
  } else if (upper == "MAX" || upper == "MAXIMUM") {
    code = static_cast<std::int64_t>(max);
  } else if (!Whole(call.Value(), 0, max, "code", code)) {
    return;
  }
  Send(static_cast<std::int32_t>(code), board_.PowerDown());
}

void Session::PowerDownCommand(const Call& call) {
  const auto& modes = Modes();
  if (call.Query()) {
    call.Answers.push_back(modes.at(static_cast<std::size_t>(board_.PowerDown())).Short);
    return;
  }
  const std::string upper = Upper(call.Value());
  const auto mode = std::find_if(modes.begin(), modes.end(),
                                 [&](const Node& node) { return Matches(upper, node); });
  if (mode == modes.end()) {
    Queue(ReadNumber(call.Value()).Error == -104 ? -224 : -104, "power-down mode " + call.Value());
    return;
  }
  Send(board_.Code(), static_cast<std::int32_t>(mode - modes.begin()));
}

void Session::Reference(const Call& call) {
  if (call.Query()) {
    const std::optional<double> vref = Vref();
    if (!vref) {
      Queue(-221, "no reference voltage set");
      return;
    }
    call.Answers.push_back(FormatNumber(*vref));
    return;
  }
  const Number number = ReadNumber(call.Value());
  if (number.Error) {
    Queue(number.Error, "reference " + call.Value());
  } else if (const std::string why =
                 dac::ReferenceRefusal(number.Value, "reference " + call.Value() + " V");
             !why.empty()) {
    Queue(-222, why);
  } else {
    vref_ = number.Value;
  }
}

void Session::Voltage(const Call& call) {
  const std::optional<double> vref = Vref();
  if (!vref) {
    Queue(-221, "set VOLTage:REFerence first");
    return;
  }
  const auto dataBits = static_cast<std::int16_t>(board_.DataBits());
  if (call.Query()) {
    call.Answers.push_back(FormatNumber(dac::IdealVolts(board_.Code(), dataBits, *vref)));
    return;
  }
  const Number number = ReadNumber(call.Value());
  if (number.Error) {
    Queue(number.Error, "voltage " + call.Value());
    return;
  }
  const double max = dac::LastCode(dataBits);
  const double code = std::nearbyint(number.Value / dac::IdealVolts(1, dataBits, *vref));
  if (!(code >= 0 && code <= max)) {
    Queue(-222, fmt::format("{} V is outside 0..{} V", call.Value(),
                            FormatNumber(
                                dac::IdealVolts(static_cast<std::int32_t>(max), dataBits, *vref))));
    return;
  }
  Send(static_cast<std::int32_t>(code), board_.PowerDown());
}

void Session::Raw(const Call& call) {
  std::int64_t bits = 0;
  std::int64_t data = 0;
  if (!Whole(call.Typed.Parameters[0], -32768, 32767, "frame length", bits) ||
      !Whole(call.Typed.Parameters[1], 0, dac::kLargestRequestData, "frame data", data) ||
      Busy("a raw frame"))
    return;
  if (const std::string refusal = board_.RawRefusal(static_cast<std::int16_t>(bits));
      !refusal.empty()) {
    Queue(-221, refusal);
    return;
  }
  const std::int16_t status = board_.SendRaw(
      static_cast<std::int16_t>(bits), static_cast<std::int32_t>(static_cast<std::uint32_t>(data)));
  if (status != 0) Refused(status);
}

void Session::BoardStatus(const Call& call) {
  call.Answers.push_back(std::to_string(board_.Status()));
}

}  // namespace kt::remote
