// SPDX-License-Identifier: MIT
#include "link/iio_board.h"

#include <fmt/format.h>
#include <iio.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "core/printable.h"
#include "dac/device_table.h"
#include "dac/power_down.h"
#include "platform/process.h"

namespace kt::link {

namespace {

constexpr const char* kIiodPort = "30431";

std::string Reason(int error) {
  char text[256] = {};
  iio_strerror(error, text, sizeof text);
  return text;
}

// A number as a person writes it: 2.5, not 2.500000.
// Numbers are read and written with a full stop whatever the locale: the Qt program runs under
// the user's, whose decimal separator may be a comma.
std::string Number(double value) { return fmt::format("{:.6g}", value); }

// A DAC channel this program can drive: an output with a code and both power-down settings.
bool IsDac(const iio_channel* channel) {
  return iio_channel_is_output(channel) && iio_channel_find_attr(channel, "raw") &&
         iio_channel_find_attr(channel, "powerdown") &&
         iio_channel_find_attr(channel, "powerdown_mode");
}

iio_channel* FirstDac(const iio_device* device) {
  for (unsigned i = 0; i < iio_device_get_channels_count(device); ++i) {
    iio_channel* channel = iio_device_get_channel(device, i);
    if (IsDac(channel)) return channel;
  }
  return nullptr;
}

std::string DeviceNamed(const iio_device* device) {
  const char* name = iio_device_get_name(device);
  return std::string(iio_device_get_id(device)) + (name ? std::string(" (") + name + ")" : "");
}

// "iio:device0 (kt310), iio:device1 (ad7124)", or "none".
std::string DevicesIn(const iio_context* context) {
  std::string list;
  for (unsigned i = 0; i < iio_context_get_devices_count(context); ++i)
    list += (list.empty() ? "" : ", ") + DeviceNamed(iio_context_get_device(context, i));
  return list.empty() ? "none" : list;
}

// What a user does about an attribute file they may not write.
std::string PermissionHint(const std::string& file) {
  return file +
         " belongs to root: give your group write access with a udev rule (the README's "
         "\"Real hardware on Linux\"), or serve the device with iiod and use ip:localhost";
}

// The resolution "[0 1 65535]" stands for: 16. Nothing for another form of range.
std::optional<int> BitsOfRange(const std::string& text) {
  std::istringstream range(text);
  char open = 0, close = 0;
  long long low = -1, step = -1, high = -1;
  if (!(range >> open >> low >> step >> high >> close) || open != '[' || close != ']' || low != 0 ||
      step != 1)
    return std::nullopt;
  for (int bits = 1; bits <= 31; ++bits)
    if (high == (1LL << bits) - 1) return bits;
  return std::nullopt;
}

}  // namespace

void IioBoard::ContextDeleter::operator()(iio_context* context) const {
  iio_context_destroy(context);
}

IioBoard::IioBoard(std::string uri, std::string device)
    : uri_(std::move(uri)), wanted_(std::move(device)), network_(uri_ != "local:") {}

IioBoard::~IioBoard() = default;

std::string IioBoard::Named() const {
  if (!deviceId_.empty())
    return "the IIO device " +
           (deviceName_.empty() ? deviceId_ : deviceName_ + " (" + deviceId_ + ")");
  return wanted_.empty() ? std::string("the IIO DAC") : "the IIO device " + wanted_;
}

std::string IioBoard::Description() const { return Printable(Named() + " at " + uri_); }

std::string IioBoard::IdentitySerial() const {
  std::string serial = uri_ + "/" + (deviceId_.empty() ? wanted_ : deviceId_);
  for (char& c : serial)
    if (c == ',' || c == ';' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  return serial;
}

std::string IioBoard::FileName(const char* attribute) const {
  return "out_" + channelId_ + "_" + attribute;
}

// Every text that leaves the board goes through Printable: device names, attribute values
// and the URI and names the user gave reach a terminal escaped, never as escapes.
bool IioBoard::Fail(std::string reason) {
  reason_ = Printable(reason);
  connected_ = false;
  return false;
}

std::optional<std::string> IioBoard::Read(const char* attribute) const {
  if (!iio_channel_find_attr(channel_, attribute)) return std::nullopt;
  char value[1024] = {};
  const ssize_t size = iio_channel_attr_read(channel_, attribute, value, sizeof value);
  if (size < 0) return std::nullopt;
  std::string text(value);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

bool IioBoard::FindChannel() {
  iio_context* context = context_.get();
  if (!wanted_.empty()) {
    // A name two devices answer to (two of one name, or a name that is another's id) is not
    // guessed at: the wrong DAC written is worse than none.
    std::vector<const iio_device*> answering;
    for (unsigned i = 0; i < iio_context_get_devices_count(context); ++i) {
      const iio_device* each = iio_context_get_device(context, i);
      for (const char* known :
           {iio_device_get_id(each), iio_device_get_name(each), iio_device_get_label(each)}) {
        if (known && wanted_ == known) {
          answering.push_back(each);
          break;
        }
      }
    }
    if (answering.size() > 1) {
      std::string list;
      for (const iio_device* each : answering)
        list += (list.empty() ? "" : ", ") + DeviceNamed(each);
      return Fail("several IIO devices answer to " + wanted_ + " at " + uri_ + ": " + list +
                  "; name one by a name of its own");
    }
    const iio_device* device = answering.empty() ? nullptr : answering.front();
    if (!device)
      return Fail("no IIO device named " + wanted_ + " at " + uri_ +
                  "; there: " + DevicesIn(context));
    channel_ = FirstDac(device);
    if (!channel_)
      return Fail("the IIO device " + DeviceNamed(device) + " at " + uri_ +
                  " has no output channel with raw, powerdown and powerdown_mode attributes: "
                  "it is not a DAC this program drives");
  } else {
    std::vector<iio_channel*> found;
    std::string dacs;
    for (unsigned i = 0; i < iio_context_get_devices_count(context); ++i) {
      const iio_device* device = iio_context_get_device(context, i);
      for (unsigned c = 0; c < iio_device_get_channels_count(device); ++c) {
        iio_channel* channel = iio_device_get_channel(device, c);
        if (!IsDac(channel)) continue;
        found.push_back(channel);
        dacs +=
            (dacs.empty() ? "" : ", ") + DeviceNamed(device) + " " + iio_channel_get_id(channel);
      }
    }
    if (found.empty())
      return Fail("no IIO DAC at " + uri_ +
                  " (an output channel with raw, powerdown and powerdown_mode attributes); "
                  "devices there: " +
                  DevicesIn(context));
    if (found.size() > 1)
      return Fail("several IIO DAC channels at " + uri_ + ": " + dacs +
                  "; choose the device with device=NAME");
    channel_ = found.front();
  }
  const iio_device* device = iio_channel_get_device(channel_);
  deviceId_ = iio_device_get_id(device);
  const char* name = iio_device_get_name(device);
  deviceName_ = name ? name : "";
  channelId_ = iio_channel_get_id(channel_);
  return true;
}

bool IioBoard::Connect(const std::optional<Model>& model) {
  Reset();
  errno = 0;
  // libiio writes to iiod's socket without sparing the program a SIGPIPE when iiod has gone,
  // which would end it at once, its rows and messages lost: the write fails instead.
  if (network_) platform::FailWritesToClosedPipes();
  // libiio writes into the text it is handed (its network backend cuts the port off): a copy.
  std::string uri = uri_;
  iio_context* context = iio_create_context_from_uri(uri.c_str());
  if (!context) {
    const int error = errno ? errno : EIO;
    const std::string why = Reason(error);
    if (uri_.rfind("ip:", 0) == 0) {
      std::string host = uri_.substr(3);
      std::string port = kIiodPort;
      if (const auto colon = host.rfind(':');
          colon != std::string::npos && host.find(':') == colon) {
        port = host.substr(colon + 1);
        host.erase(colon);
      }
      if (host.empty())
        return Fail("no iiod found on the network by DNS-SD (" + why +
                    "): name its host, as ip:HOST");
      return Fail("no iiod answers at " + host + " on TCP port " + port + " (" + why +
                  "): is iiod running there? (Debian's package iiod)");
    }
    if (uri_ == "local:" && error == ENOENT)
      return Fail(
          "no IIO DAC at local: (this machine has no /sys/bus/iio: is the DAC's kernel driver "
          "loaded, its device-tree overlay enabled?); devices there: none");
    return Fail("cannot open the IIO context " + uri_ + " (" + why + ")");
  }
  context_.reset(context);
  if (!FindChannel()) return false;

  if (const auto modes = Read("powerdown_mode_available")) {
    std::istringstream words(*modes);
    for (std::string mode; words >> mode;) modes_.push_back(mode);
  }
  if (const auto scale = Read("scale")) {
    double mv = 0;
    const char* last = scale->data() + scale->size();
    const auto [end, error] = std::from_chars(scale->data(), last, mv);
    if (error == std::errc() && end == last && std::isfinite(mv) && mv > 0) scaleMv_ = mv;
  }
  if (const auto range = Read("raw_available")) {
    // A range of another form (signed, a step, a floor above 0, more than 31 bits) is codes
    // this program does not write: refused rather than a width assumed.
    dataBits_ = BitsOfRange(*range);
    if (!dataBits_)
      return Fail(Named() + " at " + uri_ + " takes the codes " + FileName("raw_available") + " " +
                  *range +
                  " says, not 0 to 2^N - 1 in steps of 1 as the DACs this program drives do");
  }
  const auto powerdown = Read("powerdown");
  if (!powerdown)
    return Fail("cannot read " + FileName("powerdown") + " of " + Named() + " at " + uri_);
  if (*powerdown == "0" || *powerdown == "1") poweredDown_ = *powerdown == "1";

  if (model) {
    if (dataBits_ && *dataBits_ != model->DataBits)
      return Fail(Named() + " at " + uri_ + " is a " + std::to_string(*dataBits_) + "-bit DAC (" +
                  FileName("raw_available") + " " + *Read("raw_available") + "); the " +
                  model->Label + " takes " + std::to_string(model->DataBits) +
                  "-bit codes: choose the model fitted");
    if (!dataBits_ && scaleMv_ && model->Vref) {
      // Without a range from the driver, the scale tells the resolution once the reference
      // is known: a reference off by a power of two is a DAC of another width.
      const double ratio = std::log2(*model->Vref / *ReferenceVolts(model->DataBits));
      const double whole = std::round(ratio);
      if (whole != 0 && std::fabs(ratio - whole) < 0.0015)
        return Fail(Named() + " at " + uri_ + ", at " + Number(*model->Vref) + " V with " +
                    FileName("scale") + " " + *Read("scale") + " mV, is a " +
                    std::to_string(model->DataBits + static_cast<int>(whole)) + "-bit DAC; the " +
                    model->Label + " takes " + std::to_string(model->DataBits) +
                    "-bit codes: choose the model fitted");
    }
    if (!dataBits_) dataBits_ = model->DataBits;
  }
  if (scaleMv_) {
    // A scale that makes no reference a DAC can have is the driver's fault, not a voltage.
    const double volts = *ReferenceVolts(dataBits_.value_or(16));
    const std::string why = dac::ReferenceRefusal(
        volts, FileName("scale") + " " + *Read("scale") + " mV of " + Named() + " at " + uri_ +
                   " (a reference of " + Number(volts) + " V)");
    if (!why.empty()) return Fail(why);
  }
  if (uri_ == "local:") {
    const std::string file = "/sys/bus/iio/devices/" + deviceId_ + "/" + FileName("raw");
    if (access(file.c_str(), W_OK) != 0 && errno == EACCES)
      return Fail("permission denied: " + PermissionHint(file));
  }
  reason_.clear();
  connected_ = true;
  return true;
}

std::string IioBoard::RawRefusal(std::int16_t) const {
  return Printable(Named()) +
         " takes codes and power-down modes, not raw frames: raw frames go out through the "
         "evaluation board's library (the program without --board) or a spidev port "
         "(--board spidev:/dev/spidevB.C)";
}

std::optional<double> IioBoard::ReferenceVolts(std::int16_t dataBits) const {
  if (!scaleMv_) return std::nullopt;
  return *scaleMv_ * std::ldexp(1.0, dataBits) / 1000;
}

std::string IioBoard::ReferenceSource() const {
  return Printable(FileName("scale") + " of " + Named());
}

void IioBoard::Reset() {
  Board::Reset();
  channel_ = nullptr;
  context_.reset();
  deviceId_.clear();
  deviceName_.clear();
  channelId_.clear();
  dataBits_.reset();
  scaleMv_.reset();
  modes_.clear();
  poweredDown_.reset();
}

bool IioBoard::Write(const char* attribute, const std::string& value, SentFrame& sent) {
  const ssize_t written =
      channel_ ? iio_channel_attr_write(channel_, attribute, value.c_str()) : -ENOTCONN;
  if (written >= 0) {
    // Built in place: this is most of the board's own work in a frame.
    if (!sent.Carried.empty()) sent.Carried += ", ";
    sent.Carried.append("out_").append(channelId_).append(1, '_').append(attribute);
    sent.Carried.append(1, ' ').append(value);
    return true;
  }
  const int error = static_cast<int>(-written);
  sent.Status = static_cast<std::int16_t>(-error);
  sent.Failure = "writing " + FileName(attribute) + " " + value + " of " + Named() + " at " + uri_ +
                 " failed: " + Reason(error);
  if (error == EACCES) sent.Failure += ": " + PermissionHint(FileName(attribute));
  sent.Failure = Printable(sent.Failure);
  // What the failed write left on the output is not known.
  poweredDown_.reset();
  return false;
}

SentFrame IioBoard::Transmit(const Frame& frame, bool) {
  SentFrame sent;
  const auto refuse = [&](std::string why) {
    sent.Status = -EINVAL;
    sent.Failure = Printable(why);
    return sent;
  };
  const std::optional<dac::DeviceWord> word = dac::ReadDeviceFrame(frame);
  if (!word)
    return refuse("a " + std::to_string(frame.Bits) + "-bit frame is for no DAC of the family");
  if (dataBits_ && word->DataBits != *dataBits_)
    return refuse("the frame is for a " + std::to_string(word->DataBits) + "-bit DAC, and " +
                  Named() + " takes " + std::to_string(*dataBits_) + "-bit codes");
  if (word->PowerDown != 0) {
    const dac::PowerDownMode* mode = dac::PowerDownByCode(word->PowerDown);
    const std::string name = mode ? mode->IioName : "";
    bool offered = false;
    for (const std::string& known : modes_) offered = offered || known == name;
    if (!offered) {
      std::string list;
      for (const std::string& known : modes_) list += (list.empty() ? "" : " ") + known;
      return refuse(Named() + " has no power-down mode " + name + " (" +
                    FileName("powerdown_mode_available") + ": " + (list.empty() ? "none" : list) +
                    ")");
    }
    // The mode first, so that the output never goes to another mode on the way.
    if (!Write("powerdown_mode", name, sent) || !Write("powerdown", "1", sent)) return sent;
    poweredDown_ = true;
    return sent;
  }
  // The code first, so that leaving power-down shows the new code, never the old one.
  if (!Write("raw", std::to_string(word->Code), sent)) return sent;
  if (poweredDown_ != false && !Write("powerdown", "0", sent)) return sent;
  poweredDown_ = false;
  return sent;
}

}  // namespace kt::link
