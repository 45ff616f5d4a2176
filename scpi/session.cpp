// SPDX-License-Identifier: MIT
#include "scpi/session.h"

#include <algorithm>

namespace kt::remote {

namespace {

// The event status bit of an error's class, as SCPI numbers them.
std::uint8_t EventOf(int code) {
  if (code <= -100 && code > -200) return kCommandError;
  if (code <= -200 && code > -300) return kExecutionError;
  if (code <= -300 && code > -400) return kDeviceError;
  if (code <= -400 && code > -500) return kQueryError;
  return 0;
}

// At most SCPI's 255 characters, cut where a UTF-8 character begins.
std::string Bounded(std::string text) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++characters > kMaxErrorText) {
      text.resize(i);
      break;
    }
  }
  return text;
}

}  // namespace

std::vector<std::string> IdentityFields(const std::string& identity) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t comma; (comma = identity.find(',', start)) != std::string::npos;
       start = comma + 1)
    fields.push_back(identity.substr(start, comma - start));
  fields.push_back(identity.substr(start));
  fields.resize(4);
  return fields;
}

void Session::Queue(int code, const std::string& detail) {
  events_ |= EventOf(code);
  std::string text = StandardText(code);
  if (!detail.empty()) text += ";" + detail;
  if (errors_.size() >= kQueueSize) {
    // The queue's own error, a device-dependent one, takes the last place.
    events_ |= EventOf(-350);
    errors_.back() = {-350, StandardText(-350)};
    return;
  }
  errors_.push_back({code, Bounded(std::move(text))});
}

std::uint8_t Session::Status(bool messageAvailable) const {
  std::uint8_t status = 0;
  if (!errors_.empty()) status |= kErrorAvailable;
  if (messageAvailable) status |= kMessageAvailable;
  if (events_ & eventEnable_) status |= kEventSummary;
  if (status & serviceEnable_) status |= kServiceRequest;
  return status;
}

std::string Session::Execute(std::string_view message) {
  path_.clear();  // every program message starts at the root
  held_ = false;
  const Message split = SplitMessage(message);
  if (split.Error) {
    Queue(split.Error, split.Detail);
    return {};
  }
  std::vector<std::string> answers;
  for (Unit unit : split.Units) {
    if (!unit.WellFormed) {
      Queue(-102, "header \"" + unit.Header + "\"");
      break;  // a command error ends the message
    }
    if (!unit.Common && !unit.Root)
      unit.Nodes.insert(unit.Nodes.begin(), path_.begin(), path_.end());
    if (!Run(unit, answers)) break;
    if (!unit.Common) path_.assign(unit.Nodes.begin(), unit.Nodes.end() - 1);
  }
  std::string response;
  for (const std::string& answer : answers) response += (response.empty() ? "" : ";") + answer;
  return response;
}

// Runs one unit. False for a command error, which ends the message; an execution error is
// queued and the message goes on.
bool Session::Run(const Unit& unit, std::vector<std::string>& answers) {
  const Command* command = nullptr;
  for (const Command& known : Commands())
    if (Spells(unit.Nodes, known.Header)) command = &known;
  std::string spelled;
  for (const std::string& node : unit.Nodes) spelled += (spelled.empty() ? "" : ":") + node;
  if (!command || (unit.Query ? !command->Queryable : !command->Settable)) {
    Queue(-113, spelled + (unit.Query ? "?" : ""));
    return false;
  }
  const bool list = !unit.Query && command->Parameters == kList;
  const std::size_t wanted = unit.Query ? 0
                             : list     ? std::max<std::size_t>(1, unit.Parameters.size())
                                        : command->Parameters;
  for (const std::string& parameter : unit.Parameters) {
    if (parameter.empty()) {
      Queue(-102, "an empty parameter");
      return false;
    }
  }
  if (unit.Parameters.size() > wanted) {
    Queue(-108, spelled);
    return false;
  }
  if (unit.Parameters.size() < wanted) {
    Queue(-109, spelled);
    return false;
  }
  (this->*command->Run)(Call{unit, spelled, answers});
  return true;
}

}  // namespace kt::remote
