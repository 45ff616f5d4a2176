// SPDX-License-Identifier: MIT
// ktdac serve's function generator through a board's own buffer (an IIO DAC's driver, the
// USB-SPI bridge's clock), against the test bed, driven by an SCPI client over loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "dac/device_table.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/support/testbed.h"

namespace kt::link {
namespace {

std::string Contents(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), {}};
}

// ktdac serve on a board of the bed, and one client of its SCPI socket.
class Served {
 public:
  explicit Served(const std::string& board) : log_(test::WriteTempFile("serve.log", "")) {
    child_ =
        test::Start("ktdac", {"--board", board, "serve", "--listen", "127.0.0.1:0", "--no-vxi11"},
                    test::WriteTempFile("serve.out", ""), log_);
    const std::string announced = "serving SCPI on 127.0.0.1:";
    std::size_t at = std::string::npos;
    for (int tries = 0; tries < 1000 && at == std::string::npos; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      at = Contents(log_).find(announced);
    }
    if (at == std::string::npos) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(Contents(log_).substr(at + 26))));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
    const timeval wait{20, 0};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
      ADD_FAILURE() << "cannot connect to ktdac serve: " << Log();
  }
  ~Served() {
    if (socket_ >= 0) close(socket_);
    kill(child_, SIGTERM);
    test::Wait(child_);
  }
  Served(const Served&) = delete;
  Served& operator=(const Served&) = delete;

  /// Sends a program message; a query's answer, without its newline.
  std::string Ask(const std::string& message) {
    const std::string line = message + "\n";
    if (send(socket_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
      return "(not sent)";
    std::string answer;
    if (message.find('?') == std::string::npos) return answer;
    for (char c = 0; recv(socket_, &c, 1, 0) == 1 && c != '\n';) answer += c;
    return answer;
  }
  [[nodiscard]] std::string Log() const { return Contents(log_); }

 private:
  std::string log_;
  test::Child child_{};
  int socket_ = -1;
};

std::vector<int> Codes16(const std::vector<unsigned char>& bytes) {
  std::vector<int> codes;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    codes.push_back(bytes[i] | bytes[i + 1] << 8);
  return codes;
}

const char* const kRampBurst = "FUNC RAMP;FREQ 250;:FUNC:SRAT 1000;:BURS:NCYC 2;:OUTP ON;*OPC?";

TEST(ServeBuffered, TheGeneratorPlaysThroughTheDriversBufferWhereItHasOne) {
  struct Row {
    const char* name;
    const char* rateOn;
    int pushError;
    std::vector<int> pushed;
    const char* raw;  // what the DAC holds after the play; none: not looked at
    const char* says;
    bool rawGone = false;  // the code's attribute unwritable: the first sample refused
  };
  const std::vector<int> twoRamps{0, 16384, 32768, 49152, 0, 16384, 32768, 49152};
  // clang-format off
  const Row rows[] = {
      {"a burst streams through the buffer, *OPC? at its end", "device", 0, twoRamps, "49152",
       nullptr},
      {"a write the driver refuses stops the play, the first sample held", "device", EIO, {}, "0",
       "the waveform stopped: pushing samples to the IIO device kt310 (iio:device0)'s buffer "
       "failed"},
      {"nothing sets a rate: the samples go one at a time", "", 0, {}, "49152",
       "no trigger that has one: nothing sets the buffer's rate (an hrtimer trigger gives one); "
       "the samples go out one at a time instead"},
      {"the first sample refused: nothing more goes", "device", 0, {}, nullptr,
       "the waveform stopped: the board refused a frame (status -21)", true},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::Testbed bed;
    test::IioDac dac;
    dac.BufferType = "le:u16/16>>0";
    dac.RateOn = row.rateOn;
    dac.PushError = row.pushError;
    const std::string id = bed.AddIioDac(dac);
    Served served("iio:local:");
    if (row.rawGone) {  // a folder in its place, which no write opens
      std::filesystem::remove(bed.File(id, "out_voltage0_raw"));
      std::filesystem::create_directory(bed.File(id, "out_voltage0_raw"));
    }
    EXPECT_EQ(served.Ask(kRampBurst), "1");
    EXPECT_EQ(served.Ask("OUTP?;SYST:ERR?"), "0;0,\"No error\"");
    EXPECT_EQ(Codes16(bed.Pushed(id)), row.pushed);
    if (row.raw) {
      EXPECT_EQ(bed.Attribute(id, "out_voltage0_raw"), row.raw);
    }
    EXPECT_EQ(bed.Attribute(id, "buffer/enable"), "0");
    // The answer above came after the play's end was handled, and logged.
    EXPECT_EQ(served.Log().find(row.says ? row.says : "the waveform stopped") != std::string::npos,
              row.says != nullptr)
        << served.Log();
  }
}

TEST(ServeBuffered, OnTheBridgeEachSampleIsAFrameAndAnIdleRunOfTheChipsClock) {
  test::Testbed bed;
  bed.AddFtdi();
  Served served("ftdi:");
  EXPECT_EQ(served.Ask(kRampBurst), "1");
  const auto frame = [](int code) {
    return dac::DeviceFrame(*dac::FindDevice("KT310"), 0, code).Word;
  };
  std::vector<std::string> expected, log;
  char line[64];
  const auto add = [&](int code) {
    std::snprintf(line, sizeof line, "frame 24 bits %06X", static_cast<unsigned>(frame(code)));
    expected.emplace_back(line);
  };
  add(0);  // the first sample set before the buffer starts
  for (int cycle = 0; cycle < 2; ++cycle) {
    for (const int code : {0, 16384, 32768, 49152}) {
      add(code);
      expected.emplace_back("idle 976 cycles");
    }
  }
  add(49152);  // the last sample held
  for (const std::string& entry : bed.FtdiLog()) {
    if (entry.rfind("idle", 0) == 0) log.push_back(entry);
    if (entry.rfind("frame", 0) == 0) log.push_back(entry.substr(0, 20));
  }
  EXPECT_EQ(log, expected);

  // Stopped: what the chip was given still goes out, so the code held is the last one queued,
  // not the one the clock says was due.
  served.Ask(":BURS:NCYC INF;:FUNC SIN;:FREQ 2;:FUNC:SRAT 3000;:OUTP ON");
  std::vector<std::string> frames;
  for (int tries = 0; tries < 2000 && frames.size() < 300; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const std::string& entry : bed.FtdiLog())
      if (entry.rfind("frame", 0) == 0) frames.push_back(entry);
  }
  EXPECT_EQ(served.Ask("OUTP OFF;OUTP?"), "0");
  for (const std::string& entry : bed.FtdiLog())
    if (entry.rfind("frame", 0) == 0) frames.push_back(entry);
  ASSERT_GE(frames.size(), 300u);
  EXPECT_EQ(frames.back(), frames[frames.size() - 2]);
  EXPECT_NE(served.Log().find("ktdac: the board's clock gives 3003.003 S/s for the 3000 asked; "
                              "the samples are computed at its rate"),
            std::string::npos)
      << served.Log();
}

}  // namespace
}  // namespace kt::link
