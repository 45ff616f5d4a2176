// SPDX-License-Identifier: MIT
#include "link/ftdi_board.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "core/printable.h"

namespace kt::link {

namespace {

// How long the engine has to answer the bad command sent to check it.
constexpr auto kAnswerTime = std::chrono::milliseconds(500);

std::string Ids(std::uint16_t vid, std::uint16_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", vid, pid);
  return text;
}

// A rate as a person writes it: 1 MHz, 937.5 kHz, 457.8 Hz.
std::string Rate(double hz) {
  char text[32];
  if (hz >= 1e6)
    std::snprintf(text, sizeof text, "%.6g MHz", hz / 1e6);
  else if (hz >= 1e3)
    std::snprintf(text, sizeof text, "%.6g kHz", hz / 1e3);
  else
    std::snprintf(text, sizeof text, "%.6g Hz", hz);
  return text;
}

struct Found {
  libusb_device* Device;
  int Bus, Address;
  std::uint16_t Vid, Pid;
  std::string Serial;  // "(unreadable)" when neither sysfs nor the chip gave it
};

// The serial the kernel read from the chip at bus:address, from sysfs: it needs no access to
// the chip itself, so that a chip the user may not open is still named, and chosen by serial=,
// and then refused for its permissions rather than not found.
std::optional<std::string> KernelSerial(int bus, int address) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/usb/devices", error)) {
    int busnum = -1, devnum = -1;
    std::ifstream(entry.path() / "busnum") >> busnum;
    std::ifstream(entry.path() / "devnum") >> devnum;
    if (busnum != bus || devnum != address) continue;
    std::ifstream file(entry.path() / "serial");
    std::string serial;
    if (!file || !std::getline(file, serial)) return std::nullopt;
    return serial;
  }
  return std::nullopt;
}

// The chips libftdi1 finds for vid:pid (0:0, FTDI's own ids), with their serials.
std::vector<Found> FindAll(ftdi_context* context, std::uint16_t vid, std::uint16_t pid,
                           ftdi_device_list*& list) {
  std::vector<Found> found;
  if (ftdi_usb_find_all(context, &list, vid, pid) < 0) return found;
  for (ftdi_device_list* each = list; each; each = each->next) {
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(each->dev, &descriptor);
    const int bus = libusb_get_bus_number(each->dev);
    const int address = libusb_get_device_address(each->dev);
    std::optional<std::string> serial = KernelSerial(bus, address);
    if (char read[128] = {}; !serial && ftdi_usb_get_strings(context, each->dev, nullptr, 0,
                                                             nullptr, 0, read, sizeof read) == 0)
      serial = read;
    found.push_back({each->dev, bus, address, descriptor.idVendor, descriptor.idProduct,
                     serial.value_or("(unreadable)")});
  }
  // In the order of the bus, so that index= and the messages do not depend on libusb's.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return std::pair(a.Bus, a.Address) < std::pair(b.Bus, b.Address);
  });
  return found;
}

std::string Listed(const std::vector<Found>& found) {
  std::string list;
  for (const Found& each : found)
    list += (list.empty() ? "" : ", ") + Ids(each.Vid, each.Pid) + " " + each.Serial;
  return list.empty() ? "none" : list;
}

}  // namespace

void FtdiBoard::ContextDeleter::operator()(ftdi_context* context) const {
  ftdi_usb_close(context);
  ftdi_free(context);
}

FtdiBoard::FtdiBoard(FtdiChoice choice) : choice_(std::move(choice)) {}

FtdiBoard::~FtdiBoard() = default;

std::string FtdiBoard::Named() const {
  std::string serial = serial_.empty() ? choice_.Serial : serial_;
  return "the FTDI chip " + Ids(choice_.Vid, choice_.Pid) + (serial.empty() ? "" : " " + serial) +
         " (interface " + choice_.Interface + ")";
}

std::string FtdiBoard::Description() const {
  const mpsse::Clock clock = mpsse::ClockFor(choice_.Wiring.Hz);
  return Printable(
      Named() + ", SPI mode " + std::to_string(choice_.Wiring.Mode) + " at " + Rate(clock.Hz) +
      (clock.Hz != choice_.Wiring.Hz ? " (" + Rate(choice_.Wiring.Hz) + " asked)" : "") +
      ", chip select on ADBUS" + std::to_string(choice_.Wiring.ChipSelect));
}

std::string FtdiBoard::IdentitySerial() const {
  std::string serial = Ids(choice_.Vid, choice_.Pid) + "/" + (serial_.empty() ? "-" : serial_);
  for (char& c : serial)
    if (c == ',' || c == ';' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  return serial;
}

bool FtdiBoard::Fail(std::string reason) {
  reason_ = Printable(reason);
  context_.reset();
  connected_ = false;
  return false;
}

bool FtdiBoard::Open() {
  ftdi_context* context = context_.get();
  ftdi_device_list* list = nullptr;
  std::vector<Found> found = FindAll(context, choice_.Vid, choice_.Pid, list);
  std::vector<Found> matching;
  for (const Found& each : found)
    if (choice_.Serial.empty() || each.Serial == choice_.Serial) matching.push_back(each);
  const std::string wanted = "no FTDI chip " + Ids(choice_.Vid, choice_.Pid) +
                             (choice_.Serial.empty() ? "" : " with serial " + choice_.Serial);
  bool opened = false;
  if (matching.empty()) {
    ftdi_device_list* all = nullptr;
    const std::string present = Listed(FindAll(context, 0, 0, all));
    ftdi_list_free(&all);
    Fail(wanted + " on USB; present: " + present);
  } else if (matching.size() > 1 && !choice_.Index) {
    Fail("several FTDI chips " + Ids(choice_.Vid, choice_.Pid) + " on USB: " + Listed(matching) +
         "; choose one with serial=S or index=N");
  } else if (choice_.Index && *choice_.Index >= static_cast<int>(matching.size())) {
    Fail("index=" + std::to_string(*choice_.Index) + ", but " + std::to_string(matching.size()) +
         " FTDI chip" + (matching.size() == 1 ? "" : "s") + " " + Ids(choice_.Vid, choice_.Pid) +
         " match: " + Listed(matching));
  } else {
    const Found& chosen = matching[static_cast<std::size_t>(choice_.Index.value_or(0))];
    serial_ = chosen.Serial;
    // libusb says why a chip cannot be opened; libftdi1 folds every reason into one code.
    libusb_device_handle* trial = nullptr;
    const int access = libusb_open(chosen.Device, &trial);
    if (trial) libusb_close(trial);
    if (access == LIBUSB_ERROR_ACCESS) {
      Fail("permission denied on " + Named() +
           ": give your group the chip with a udev rule, SUBSYSTEM==\"usb\", "
           "ATTRS{idVendor}==\"" +
           Ids(choice_.Vid, choice_.Pid).substr(0, 4) + "\", ATTRS{idProduct}==\"" +
           Ids(choice_.Vid, choice_.Pid).substr(5) +
           "\", GROUP=\"plugdev\", MODE=\"0660\" (the README's \"Real hardware on Linux\")");
    } else if (access < 0) {
      Fail("cannot open " + Named() + ": " + libusb_strerror(access));
    } else if (ftdi_usb_open_dev(context, chosen.Device) != 0) {
      Fail("cannot open " + Named() + ": " + ftdi_get_error_string(context));
    } else {
      opened = true;
    }
  }
  ftdi_list_free(&list);
  return opened;
}

bool FtdiBoard::WriteAll(const std::vector<std::uint8_t>& bytes, std::string& why) {
  const int written = ftdi_write_data(context_.get(), bytes.data(), static_cast<int>(bytes.size()));
  if (written == static_cast<int>(bytes.size())) return true;
  why = written < 0 ? std::string(ftdi_get_error_string(context_.get()))
                    : "it took " + std::to_string(written) + " of " + std::to_string(bytes.size()) +
                          " bytes";
  return false;
}

bool FtdiBoard::Connect(const std::optional<Model>& model) {
  Reset();
  model_ = model;
  context_.reset(ftdi_new());
  if (!context_)
    return Fail(
        "libftdi1 could not start: libusb cannot reach this machine's USB (is "
        "/dev/bus/usb there, and readable?)");
  ftdi_context* context = context_.get();
  if (ftdi_set_interface(context,
                         static_cast<ftdi_interface>(INTERFACE_A + (choice_.Interface - 'A'))) != 0)
    return Fail("interface " + std::string(1, choice_.Interface) + ": " +
                ftdi_get_error_string(context));
  if (!Open()) return false;
  if (context->type != TYPE_232H && context->type != TYPE_2232H && context->type != TYPE_4232H)
    return Fail(Named() +
                " has no high-speed MPSSE engine: an FT232H, FT2232H or FT4232H drives the DAC");
  if (ftdi_usb_reset(context) != 0 || ftdi_tcioflush(context) != 0 ||
      ftdi_set_latency_timer(context, 1) != 0 || ftdi_set_bitmode(context, 0, BITMODE_RESET) != 0 ||
      ftdi_set_bitmode(context, 0, BITMODE_MPSSE) != 0)
    return Fail("setting " + Named() + " up for MPSSE failed: " + ftdi_get_error_string(context));
  // A bad command, which the engine answers with 0xFA and the command: a chip that does not is
  // not in MPSSE mode, or not the chip it says.
  std::string why;
  if (!WriteAll({mpsse::kBadCommand, mpsse::kSendImmediate}, why))
    return Fail("writing to " + Named() + " failed: " + why);
  std::vector<std::uint8_t> answer;
  const auto until = std::chrono::steady_clock::now() + kAnswerTime;
  while (answer.size() < 2 && std::chrono::steady_clock::now() < until) {
    std::uint8_t bytes[2];
    const int read = ftdi_read_data(context, bytes, static_cast<int>(2 - answer.size()));
    if (read < 0)
      return Fail("reading from " + Named() + " failed: " + ftdi_get_error_string(context));
    answer.insert(answer.end(), bytes, bytes + read);
    if (read == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (answer != std::vector<std::uint8_t>{mpsse::kBadCommandReply, mpsse::kBadCommand}) {
    std::string got;
    for (const std::uint8_t byte : answer) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%s%02X", got.empty() ? "" : " ", byte);
      got += hex;
    }
    return Fail("the MPSSE engine of " + Named() + " did not answer a bad command with FA AA (" +
                (got.empty() ? std::string("nothing") : got) +
                " in 0.5 s): it is not in MPSSE mode or not the chip it says; unplug it and "
                "plug it in again");
  }
  if (!WriteAll(mpsse::SetupCommands(choice_.Wiring), why))
    return Fail("setting the clock and pins of " + Named() + " failed: " + why);
  reason_.clear();
  connected_ = true;
  return true;
}

std::string FtdiBoard::RawRefusal(std::int16_t bits) const {
  if (bits >= 1 && bits <= 32) return {};
  return "a USB-SPI bridge sends frames of 1 to 32 bits, and " + std::to_string(bits) +
         " bits are not: the evaluation board's library (the program without --board) sends "
         "any length";
}

void FtdiBoard::Reset() {
  Board::Reset();
  context_.reset();
  serial_.clear();
  model_.reset();
}

SentFrame FtdiBoard::Transmit(const Frame& frame, bool) {
  std::vector<SentFrame> sent = TransmitRun({frame});
  return sent.front();
}

std::vector<SentFrame> FtdiBoard::TransmitRun(const std::vector<Frame>& frames) {
  std::vector<SentFrame> sent;
  commands_.clear();
  for (const Frame& frame : frames) {
    SentFrame each;
    if (!mpsse::AppendFrame(choice_.Wiring, frame, commands_)) {
      each.Status = -EINVAL;
      each.Failure = Printable(RawRefusal(frame.Bits));
      sent.push_back(std::move(each));
      return sent;  // nothing of the run goes out
    }
    char carried[48];
    std::snprintf(
        carried, sizeof carried, "%d bits %0*X through MPSSE", frame.Bits, (frame.Bits + 3) / 4,
        static_cast<unsigned>(frame.Word) & (frame.Bits >= 32 ? ~0u : (1u << frame.Bits) - 1));
    each.Carried = carried;
    sent.push_back(std::move(each));
  }
  std::string why = Named() + " is not open";
  if (!context_ || !WriteAll(commands_, why)) {
    // What of the write went out is not known: the run's first frame carries the failure.
    SentFrame failed;
    failed.Status = -EIO;
    failed.Failure = Printable("the frame to " + Named() + " failed: " + why);
    return {failed};
  }
  return sent;
}

}  // namespace kt::link
