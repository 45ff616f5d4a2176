// SPDX-License-Identifier: MIT
#include "link/spidev_board.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/printable.h"

namespace kt::link {

namespace {

// "bytes 01 12 34": what a transfer carried.
std::string Carried(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "bytes";
  text.reserve(5 + 3 * bytes.size());
  for (const std::uint8_t b : bytes) {
    text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

// The spidev ports this machine has, for a message about one it has not.
std::string PortsHere() {
  std::vector<std::string> ports;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("spidev", 0) == 0) ports.push_back("/dev/" + name);
  }
  std::sort(ports.begin(), ports.end());
  std::string list;
  for (const std::string& port : ports) list += (list.empty() ? "" : ", ") + port;
  return list.empty() ? "none" : list;
}

std::string Missing(const std::string& path) {
  return "there is no " + path +
         ": enable the SPI controller and its spidev device in the kernel (Raspberry Pi: "
         "dtparam=spi=on in /boot/firmware/config.txt, or raspi-config, Interface Options, SPI, "
         "then reboot; other boards: a device-tree overlay with a spidev node) and load the "
         "spidev module; spidev ports here: " +
         PortsHere();
}

std::string Denied(const std::string& path) {
  struct stat status {};
  std::string owner;
  if (stat(path.c_str(), &status) == 0) {
    if (const struct group* entry = getgrgid(status.st_gid)) owner = entry->gr_name;
  }
  const std::string rule =
      "a udev rule, SUBSYSTEM==\"spidev\", GROUP=\"spi\", MODE=\"0660\" in "
      "/etc/udev/rules.d/90-spidev.rules, gives the group spi the ports";
  if (!owner.empty() && owner != "root")
    return "permission denied on " + path + ", which belongs to the group " + owner +
           ": add yourself to it (sudo usermod -aG " + owner + " $USER, then log in again), or " +
           rule;
  return "permission denied on " + path + ": " + rule +
         " (then sudo usermod -aG spi $USER and log in again)";
}

}  // namespace

std::optional<SpiTransfer> SpiTransferOf(const Frame& frame) {
  const auto word = static_cast<std::uint32_t>(frame.Word);
  if (frame.Bits <= 0) return std::nullopt;
  SpiTransfer transfer;
  if (frame.Bits % 8 == 0) {
    const int count = frame.Bits / 8;
    for (int i = count - 1; i >= 0; --i)
      transfer.Bytes.push_back(i < 4 ? static_cast<std::uint8_t>(word >> (8 * i)) : 0);
    return transfer;
  }
  if (frame.Bits > 32) return std::nullopt;
  // One word of that many bits, in as many bytes as spidev gives a word of that length.
  const std::uint32_t value = word & ((std::uint64_t{1} << frame.Bits) - 1);
  transfer.BitsPerWord = static_cast<std::uint8_t>(frame.Bits);
  const std::size_t size = frame.Bits < 8 ? 1 : frame.Bits <= 16 ? 2 : 4;
  transfer.Bytes.resize(size);
  if (size == 1) {
    transfer.Bytes[0] = static_cast<std::uint8_t>(value);
  } else if (size == 2) {
    const auto half = static_cast<std::uint16_t>(value);
    std::memcpy(transfer.Bytes.data(), &half, size);
  } else {
    std::memcpy(transfer.Bytes.data(), &value, size);
  }
  return transfer;
}

SpidevBoard::SpidevBoard(std::string path, int mode, std::uint32_t hz)
    : path_(std::move(path)), mode_(mode), hz_(hz) {}

SpidevBoard::~SpidevBoard() { Close(); }

std::string SpidevBoard::Description() const {
  return "the spidev port " + Printable(path_) + " (SPI mode " + std::to_string(mode_) + ", " +
         std::to_string(hz_) + " Hz)";
}

std::string SpidevBoard::IdentitySerial() const {
  std::string serial = path_;
  for (char& c : serial)
    if (c == ',' || c == ';' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  return serial;
}

void SpidevBoard::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

// The path the user gave reaches a terminal escaped, never as escapes.
bool SpidevBoard::Fail(std::string reason) {
  Close();
  reason_ = Printable(reason);
  connected_ = false;
  return false;
}

bool SpidevBoard::Connect(const std::optional<Model>&) {
  Reset();
  fd_ = open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    const int error = errno;
    if (error == ENOENT) return Fail(Missing(path_));
    if (error == EACCES || error == EPERM) return Fail(Denied(path_));
    return Fail("cannot open " + path_ + ": " + std::strerror(error));
  }
  // A setting the port does not take would send every frame in another way than the DAC
  // reads it: the connection fails rather than go on.
  auto mode = static_cast<std::uint8_t>(mode_);
  if (ioctl(fd_, SPI_IOC_WR_MODE, &mode) < 0)
    return Fail("setting SPI mode " + std::to_string(mode_) + " on " + path_ +
                " failed: " + std::strerror(errno));
  std::uint32_t hz = hz_;
  if (ioctl(fd_, SPI_IOC_WR_MAX_SPEED_HZ, &hz) < 0)
    return Fail("setting the SPI clock to " + std::to_string(hz_) + " Hz on " + path_ +
                " failed: " + std::strerror(errno));
  reason_.clear();
  connected_ = true;
  return true;
}

std::string SpidevBoard::RawRefusal(std::int16_t bits) const {
  if (bits > 0 && (bits % 8 == 0 || bits <= 32)) return {};
  return "spidev sends a frame of 1 to 32 bits, or of whole bytes, and " + std::to_string(bits) +
         " bits are neither: the evaluation board's library (the program without --board) "
         "sends any length";
}

void SpidevBoard::Reset() {
  Board::Reset();
  Close();
}

SentFrame SpidevBoard::Transmit(const Frame& frame, bool) {
  SentFrame sent;
  const auto fail = [&](int error, std::string why) {
    sent.Status = static_cast<std::int16_t>(-error);
    sent.Failure = Printable(why);
    return sent;
  };
  const std::optional<SpiTransfer> transfer = SpiTransferOf(frame);
  if (!transfer) return fail(EINVAL, RawRefusal(frame.Bits));
  if (fd_ < 0) return fail(ENOTCONN, path_ + " is not open");
  spi_ioc_transfer message{};
  message.tx_buf = reinterpret_cast<std::uintptr_t>(transfer->Bytes.data());
  message.len = static_cast<std::uint32_t>(transfer->Bytes.size());
  message.speed_hz = hz_;
  message.bits_per_word = transfer->BitsPerWord;
  const int sentBytes = ioctl(fd_, SPI_IOC_MESSAGE(1), &message);
  if (sentBytes < 0) {
    const int error = errno;
    if (error == EINVAL && transfer->BitsPerWord != 8)
      return fail(error, "the SPI controller behind " + path_ + " does not take " +
                             std::to_string(transfer->BitsPerWord) +
                             "-bit words; the frame was not sent");
    return fail(error, "the transfer on " + path_ + " failed: " + std::strerror(error));
  }
  if (static_cast<std::size_t>(sentBytes) != transfer->Bytes.size())
    return fail(EIO, "the transfer on " + path_ + " sent " + std::to_string(sentBytes) + " of " +
                         std::to_string(transfer->Bytes.size()) + " bytes");
  sent.Carried = Carried(transfer->Bytes);
  if (transfer->BitsPerWord != 8)
    sent.Carried += " (one " + std::to_string(transfer->BitsPerWord) + "-bit word)";
  return sent;
}

}  // namespace kt::link
