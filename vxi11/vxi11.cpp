// SPDX-License-Identifier: MIT
#include "vxi11/vxi11.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "core/error.h"
#include "scpi/framing.h"

namespace kt::remote::vxi11 {

namespace {

using rpc::Accepted;

// The one instrument served, by the name VISA gives it by default.
bool IsInstrument(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name == "inst0";
}

}  // namespace

rpc::Bytes Instrument::Answer(const rpc::Bytes& record, int channel) {
  rpc::XdrReader in(record);
  rpc::Bytes refusal;
  const std::optional<rpc::Call> asked = rpc::ReadCall(in, refusal);
  if (!asked) return refusal;
  const rpc::Call& call = *asked;
  if (call.Program != rpc::kVxi11Core)
    return rpc::Reply(call.Xid, Accepted::ProgramUnavailable).Written();
  if (call.Version != 1)
    return rpc::Reply(call.Xid, Accepted::ProgramMismatch).Unsigned(1).Unsigned(1).Written();
  rpc::XdrWriter out = rpc::Reply(call.Xid, Accepted::Success);
  if (call.Procedure == 0) return out.Written();  // the null procedure: a client's ping
  try {
    if (call.Procedure == kCreateLink) {
      CreateLink(in, out, channel);
      return out.Written();
    }
    const bool known = (call.Procedure >= kDeviceWrite && call.Procedure <= kDeviceEnableSrq) ||
                       call.Procedure == kDeviceDoCmd || call.Procedure == kDestroyLink ||
                       call.Procedure == kCreateInterruptChannel ||
                       call.Procedure == kDestroyInterruptChannel;
    if (!known) return rpc::Reply(call.Xid, Accepted::ProcedureUnavailable).Written();
    // The interrupt channel (service requests) is not offered.
    if (call.Procedure == kCreateInterruptChannel || call.Procedure == kDestroyInterruptChannel)
      return out.Signed(kNotSupported).Written();
    const std::int32_t id = in.Signed();
    const auto found = links_.find(id);
    // The result of a call refused before anything was done: its error, then empty fields.
    const auto refuse = [&](std::int32_t error) {
      out.Signed(error);
      if (call.Procedure == kDeviceWrite || call.Procedure == kDeviceReadStb) out.Unsigned(0);
      if (call.Procedure == kDeviceRead) out.Signed(0).Opaque(nullptr, 0);
      if (call.Procedure == kDeviceDoCmd) out.Opaque(nullptr, 0);
      return out.Written();
    };
    // A link is its connection's: another's use of its id is refused as no link at all.
    if (found == links_.end() || found->second.Channel != channel) return refuse(kInvalidLink);
    Link& link = found->second;
    switch (call.Procedure) {
      case kDeviceWrite: {
        in.Unsigned();  // io_timeout
        in.Unsigned();  // lock_timeout
        const std::uint32_t flags = in.Unsigned();
        const std::string data = in.String(kMaxReceive);
        if (LockedOut(id)) return refuse(kLockedByAnother);
        return out.Signed(Write(link, flags, data))
            .Unsigned(static_cast<std::uint32_t>(data.size()))
            .Written();
      }
      case kDeviceRead:
        if (LockedOut(id)) return refuse(kLockedByAnother);
        Read(link, in, out);
        return out.Written();
      case kDeviceReadStb:
        if (LockedOut(id)) return refuse(kLockedByAnother);
        return out.Signed(kNoError).Unsigned(link.Scpi.Status(!link.Output.empty())).Written();
      case kDeviceClear:
        // A device clear empties the link's input and output, as IEEE 488.2's does; the
        // error queue and the registers stay.
        if (LockedOut(id)) return refuse(kLockedByAnother);
        link.Input.clear();
        link.Output.clear();
        link.Overlong = Dropping::No;
        return out.Signed(kNoError).Written();
      case kDeviceRemote:
      case kDeviceLocal:
        // There is no front panel to lock out: remote and local are one.
        return out.Signed(LockedOut(id) ? kLockedByAnother : kNoError).Written();
      case kDeviceLock:
        // A wait for another link's unlock is the server's: it holds the call (LockWait).
        if (LockedOut(id)) return refuse(kLockedByAnother);
        shared_.LockedBy = id;
        return out.Signed(kNoError).Written();
      case kDeviceUnlock:
        if (shared_.LockedBy != id) return refuse(kNoLockHeld);
        shared_.LockedBy.reset();
        return out.Signed(kNoError).Written();
      case kDestroyLink:
        Destroy(id);
        return out.Signed(kNoError).Written();
      default:
        // Triggers, service requests and commands beyond messages have no meaning for a DAC
        // that sends a frame per message.
        return refuse(kNotSupported);
    }
  } catch (const Error&) {
    return rpc::Reply(call.Xid, Accepted::GarbageArguments).Written();
  }
}

std::optional<std::uint32_t> Instrument::LockWait(const rpc::Bytes& record, int channel) const {
  rpc::XdrReader in(record);
  rpc::Bytes refusal;
  const std::optional<rpc::Call> call = rpc::ReadCall(in, refusal);
  if (!call || call->Program != rpc::kVxi11Core || call->Version != 1) return std::nullopt;
  if (const auto wait = OutputWait(*call, in, channel)) return wait;
  if (!shared_.LockedBy) return std::nullopt;
  if (const auto holder = links_.find(*shared_.LockedBy);
      holder != links_.end() && holder->second.Channel == channel)
    return std::nullopt;
  try {
    std::uint32_t flags = kWaitLock, timeout = 0;
    if (call->Procedure == kCreateLink) {
      in.Signed();  // the client's id
      if (!in.Boolean()) return std::nullopt;
      timeout = in.Unsigned();
    } else {
      const std::int32_t id = in.Signed();
      // Another connection's link is refused at once; this connection's is locked out, since
      // the holder's connection is another (above).
      const auto link = links_.find(id);
      if (link == links_.end() || link->second.Channel != channel) return std::nullopt;
      switch (call->Procedure) {
        case kDeviceWrite:
          in.Unsigned();  // io_timeout
          timeout = in.Unsigned();
          flags = in.Unsigned();
          break;
        case kDeviceRead:
          in.Unsigned();  // request size
          in.Unsigned();  // io_timeout
          timeout = in.Unsigned();
          flags = in.Unsigned();
          break;
        case kDeviceReadStb:
        case kDeviceClear:
        case kDeviceRemote:
        case kDeviceLocal:
        case kDeviceLock:
          flags = in.Unsigned();
          timeout = in.Unsigned();
          break;
        default:
          return std::nullopt;
      }
    }
    if ((flags & kWaitLock) == 0 || timeout == 0) return std::nullopt;
    return timeout;
  } catch (const Error&) {
    return std::nullopt;  // answered at once, as garbage
  }
}

std::optional<std::uint32_t> Instrument::OutputWait(const rpc::Call& call, rpc::XdrReader in,
                                                    int channel) const {
  const Generator* generator = board_.Waveform();
  if (call.Procedure != kDeviceRead || !generator || !generator->Finishing()) return std::nullopt;
  try {
    const auto link = links_.find(in.Signed());
    if (link == links_.end() || link->second.Channel != channel || !link->second.Held)
      return std::nullopt;
    in.Unsigned();  // request size
    const std::uint32_t timeout = in.Unsigned();
    if (timeout == 0) return std::nullopt;  // answered at once: the time is up
    return timeout;
  } catch (const Error&) {
    return std::nullopt;  // answered at once, as garbage
  }
}

void Instrument::CreateLink(rpc::XdrReader& in, rpc::XdrWriter& out, int channel) {
  in.Signed();  // the client's id, for its own use
  const bool lock = in.Boolean();
  in.Unsigned();  // lock_timeout
  const std::string device = in.String(256);
  std::int32_t error = kNoError;
  if (!IsInstrument(device)) {
    error = kNotAccessible;
  } else if (shared_.Clients >= maxClients_) {
    error = kOutOfResources;
  } else if (lock && shared_.LockedBy) {
    error = kLockedByAnother;
  }
  if (error != kNoError) {
    out.Signed(error).Signed(0).Unsigned(0).Unsigned(kMaxReceive);
    return;
  }
  const std::int32_t id = next_++;
  links_.emplace(id, Link{channel, Session(board_, !shared_.PoweredOn), {}, Dropping::No, {}});
  shared_.PoweredOn = true;
  ++shared_.Clients;
  if (lock) shared_.LockedBy = id;
  // No abort channel is offered: port 0.
  out.Signed(kNoError).Signed(id).Unsigned(0).Unsigned(kMaxReceive);
}

std::int32_t Instrument::Write(Link& link, std::uint32_t flags, const std::string& data) {
  // Each message ends at an LF outside its blocks, as on the raw socket; the end of a write
  // with END ends one too. A message past the limits is refused whole: to its LF, or for a
  // block too long, whose bytes may hold any LF, to the END of a write.
  const auto run = [&](std::string message) {
    if (link.Overlong != Dropping::No) {
      link.Overlong = Dropping::No;
      return;
    }
    if (!message.empty() && message.back() == '\r') message.pop_back();
    if (!link.Output.empty()) {
      // A response nobody read, and a new message: IEEE 488.2's interrupted query.
      link.Output.clear();
      link.Scpi.Queue(-410);
    }
    const std::string response = link.Scpi.Execute(message);
    if (!response.empty()) link.Output = response + "\n";
    link.Held = link.Scpi.Held();
  };
  std::string_view rest = data;
  while (!rest.empty()) {
    if (link.Overlong == Dropping::ToLineEnd) {
      const std::size_t end = rest.find('\n');
      if (end == std::string_view::npos) break;
      run({});
      rest.remove_prefix(end + 1);
      continue;
    }
    if (link.Overlong == Dropping::ToEnd) break;
    link.Input.append(rest);
    rest = {};
    const Framing framing = FindMessage(link.Input, kMaxLine);
    if (framing.What == Framing::End::Whole) {
      // What follows the message came in this write.
      rest = std::string_view(data).substr(data.size() - (link.Input.size() - framing.Size));
      std::string message = link.Input.substr(0, framing.Size - 1);
      link.Input.clear();
      run(std::move(message));
    } else if (framing.What == Framing::End::Overlong) {
      link.Scpi.Queue(-363, framing.Block
                                ? fmt::format("a block longer than {} bytes", kMaxBlock)
                                : fmt::format("a message longer than {} bytes", kMaxLine));
      link.Overlong = framing.Block ? Dropping::ToEnd : Dropping::ToLineEnd;
      // The text's LF, if this write holds it, is looked for in what came after the limit.
      const std::size_t kept = link.Input.size() - data.size();
      if (!framing.Block && framing.Size > kept)
        rest = std::string_view(data).substr(framing.Size - kept);
      link.Input.clear();
    }
  }
  if ((flags & kEnd) != 0 && (!link.Input.empty() || link.Overlong != Dropping::No)) {
    run(std::move(link.Input));
    link.Input.clear();
  }
  return kNoError;
}

void Instrument::Read(Link& link, rpc::XdrReader& in, rpc::XdrWriter& out) {
  const std::uint32_t requested = in.Unsigned();
  in.Unsigned();  // io_timeout
  in.Unsigned();  // lock_timeout
  const std::uint32_t flags = in.Unsigned();
  const auto termChar = static_cast<char>(in.Signed());
  if (link.Held) {
    // *OPC? of a waveform still playing: the read's time is up before its answer.
    if (const Generator* generator = board_.Waveform(); generator && generator->Finishing()) {
      out.Signed(kIoTimeout).Signed(0).Opaque(nullptr, 0);
      return;
    }
    link.Held = false;
  }
  if (link.Output.empty()) {
    // Nothing was asked that has an answer: no answer can come while this call waits, so
    // the timeout is said at once, with IEEE 488.2's error for a read with nothing to say.
    link.Scpi.Queue(-420);
    out.Signed(kIoTimeout).Signed(0).Opaque(nullptr, 0);
    return;
  }
  std::size_t size = std::min<std::size_t>(requested, link.Output.size());
  std::int32_t reason = 0;
  if ((flags & kTermCharSet) != 0) {
    if (const std::size_t at = link.Output.find(termChar); at < size) {
      size = at + 1;
      reason |= kTermChar;
    }
  }
  if (size == requested) reason |= kRequestCount;
  if (size == link.Output.size()) reason |= kEndReached;
  out.Signed(kNoError).Signed(reason).Opaque(
      reinterpret_cast<const std::uint8_t*>(link.Output.data()), size);
  link.Output.erase(0, size);
}

void Instrument::Destroy(std::int32_t id) {
  if (shared_.LockedBy == id) shared_.LockedBy.reset();
  if (links_.erase(id) > 0) --shared_.Clients;
}

void Instrument::Close(int channel) {
  for (auto it = links_.begin(); it != links_.end();) {
    const std::int32_t id = it->first;
    const bool mine = it->second.Channel == channel;
    ++it;
    if (mine) Destroy(id);
  }
}

}  // namespace kt::remote::vxi11
