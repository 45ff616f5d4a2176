// SPDX-License-Identifier: MIT
//
// The simulated evaluation board: one source for both generations of the board library.
// Built as CVR_BOARDLINK (second generation: Scan_Bus, Open_Link, Load_Code,
// Control_Transfer) and as BoardIO (first generation: InitLink and LinkControl, exported
// under their decorated names by the link step). Each library holds its own board.
//
// The environment sets faults, read at every call: KT_SIM_BOARDS=0 (no board attached),
// KT_SIM_LOAD_STATUS=N and KT_SIM_SEND_STATUS=N (force a status), KT_SIM_LATENCY_US=N
// (each call takes that long, to the microsecond). KT_SIM_DAC_OUTPUT=FILE shows the DAC's
// output to the simulated bench meter (sim_meter.cpp). KT_SIM_TRACE=FILE appends one JSON object
// a call; KT_SIM_STATS=FILE receives, when the library is unloaded (at the latest when the
// program ends), the number of calls and the seconds spent inside them, so that a
// measurement can tell the program's time from the library's.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "sim/dac_model.h"
#include "sim/intel_hex.h"

// On Windows the .def file of each library names its exports.
#if defined(_WIN32) && defined(__i386__)
#define KT_SIM_API extern "C"
#define KT_SIM_STDCALL __stdcall
#elif defined(_WIN32)
#define KT_SIM_API extern "C"
#define KT_SIM_STDCALL
#else
#define KT_SIM_API extern "C" __attribute__((visibility("default")))
#define KT_SIM_STDCALL
#endif

namespace {

using kt::sim::DacModel;
// Keys stay in the order written: the trace's documented field order.
using json = nlohmann::ordered_json;

// The board this library finds: the maker's vendor identifier, the board's product
// identifier, the identifier the bus scan reports and the handle a connection returns.
constexpr std::int32_t kVendorId = 0xC0A5;
constexpr std::int32_t kProductId = 0xB201;
constexpr std::uint8_t kBoardId = 1;
constexpr std::uint32_t kHandle = 0x4B540001;
constexpr std::uint8_t kSpiFrameRequest = 0xDD;

// Status values. The second generation reads 0 as success, the first any value >= 0.
constexpr std::int16_t kOk = 0;
constexpr std::int16_t kNoBoard = -1;      // no board attached, or an unknown handle or id
constexpr std::int16_t kNoFile = -2;       // the firmware file cannot be opened
constexpr std::int16_t kBadFirmware = -3;  // the firmware file is not a valid Intel HEX image
constexpr std::int16_t kNoFirmware = -4;   // a frame before a successful firmware load
constexpr std::int16_t kBadRequest = -5;   // an unknown request, or a value beyond 16 bits
constexpr std::int16_t kFailed = -6;       // the library itself failed (out of memory, say)

struct Board {
  bool Connected = false;  // Open_Link succeeded (second generation)
  bool Loaded = false;     // the firmware is running
  DacModel Dac;
};

Board board;

std::optional<long> EnvNumber(const char* name) {
  const char* text = std::getenv(name);
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 0);
  if (*end != '\0') return std::nullopt;
  return value;
}

bool BoardAttached() { return EnvNumber("KT_SIM_BOARDS").value_or(1) > 0; }

using Clock = std::chrono::steady_clock;

// When the call in hand entered the library.
Clock::time_point entered;

// The calls so far and the time spent inside them, written out at unload.
struct Stats {
  std::uint64_t Calls = 0;
  Clock::duration Inside{};
  std::clock_t InsideCpu = 0;  // processor time inside the calls

  Stats() = default;
  Stats(const Stats&) = delete;
  Stats& operator=(const Stats&) = delete;
  ~Stats() {
    const char* file = std::getenv("KT_SIM_STATS");
    if (!file || !*file) return;
    if (std::FILE* out = std::fopen(file, "wb")) {
      std::fprintf(out, "{\"calls\":%llu,\"inside_s\":%.9f,\"inside_cpu_s\":%.6f}\n",
                   static_cast<unsigned long long>(Calls),
                   std::chrono::duration<double>(Inside).count(),
                   static_cast<double>(InsideCpu) / CLOCKS_PER_SEC);
      std::fclose(out);
    }
  }
} stats;

// Holds the call until KT_SIM_LATENCY_US after it entered the library. A sleep overshoots
// by tens of microseconds, now and then by hundreds (by milliseconds on Windows), so the
// sleep stops well short of the deadline and the rest is waited out on the clock: a 1 ms
// call is all waiting, as a real one is all bus.
void Latency() {
  const auto us = EnvNumber("KT_SIM_LATENCY_US");
  if (!us || *us <= 0) return;
  const Clock::time_point deadline = entered + std::chrono::microseconds(*us);
#ifdef _WIN32
  constexpr auto kWaitedOut = std::chrono::milliseconds(20);
#else
  constexpr auto kWaitedOut = std::chrono::milliseconds(2);
#endif
  if (deadline - Clock::now() > kWaitedOut) std::this_thread::sleep_until(deadline - kWaitedOut);
  while (Clock::now() < deadline) {
  }
}

std::int16_t Forced(const char* name, std::int16_t status) {
  if (const auto forced = EnvNumber(name)) return static_cast<std::int16_t>(*forced);
  return status;
}

json OrNull(const std::optional<std::int32_t>& value) {
  return value ? json(*value) : json(nullptr);
}

void Trace(json record) {
  const char* file = std::getenv("KT_SIM_TRACE");
  if (!file || !*file) return;
  const std::string line = record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  if (std::FILE* out = std::fopen(file, "ab")) {
    std::fwrite(line.data(), 1, line.size(), out);
    std::fclose(out);
  }
}

// Loads the firmware named by the 0-terminated path into the board. A directory, or
// anything else that is not a plain file, is no firmware file.
std::int16_t LoadFirmware(const char* path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return kNoFile;
  std::ifstream in(path, std::ios::binary);
  if (!in) return kNoFile;
  const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return kNoFile;
  return kt::sim::CheckIntelHex(image).Ok ? kOk : kBadFirmware;
}

// Shows the DAC's new output to the simulated meter through the file KT_SIM_DAC_OUTPUT names,
// when it names one. Returns false when the file cannot be written.
bool PublishOutput(std::optional<std::int32_t> previousCode, std::int32_t previousPowerDown) {
  const char* file = std::getenv(kt::sim::kDacOutputVariable);
  if (!file || !*file) return true;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return kt::sim::WriteDacState(
      file, {board.Dac.DataBits(), *board.Dac.Code(), *board.Dac.PowerDown(), previousCode,
             previousPowerDown, std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()});
}

// One vendor request; `reachable` tells whether a board answers on this link at all.
std::int16_t SendFrame(const char* entry, bool reachable, std::uint32_t request, std::int32_t value,
                       std::int32_t index) {
  Latency();
  json record{{"entry", entry}, {"request", request}, {"value", value}, {"index", index}};
  std::int16_t status = kOk;
  bool drove = false;
  const auto frame = kt::sim::DecodeRequest(value, index);
  if (!reachable) {
    status = kNoBoard;
  } else if (request != kSpiFrameRequest || !frame) {
    status = kBadRequest;
  } else if (!board.Loaded) {
    status = kNoFirmware;
  } else {
    const auto previousCode = board.Dac.Code();
    const std::int32_t previousPowerDown = board.Dac.PowerDown().value_or(0);
    drove = board.Dac.Apply(*frame);
    if (drove && !PublishOutput(previousCode, previousPowerDown)) status = kFailed;
  }
  if (frame) {
    record["frame_bits"] = frame->Bits;
    record["word"] = frame->Word;
  } else {
    record["frame_bits"] = nullptr;
    record["word"] = nullptr;
  }
  record["code"] = drove ? OrNull(board.Dac.Code()) : json(nullptr);
  record["power_down"] = drove ? OrNull(board.Dac.PowerDown()) : json(nullptr);
  status = Forced("KT_SIM_SEND_STATUS", status);
  record["status"] = status;
  Trace(std::move(record));
  return status;
}

// Runs an entry's body so that no exception ever crosses the library's C entry: a failure
// inside the library is a status, as the board maker's libraries report theirs.
template <typename Body>
std::int16_t Guarded(Body&& body) noexcept {
  entered = Clock::now();
  const std::clock_t cpu = std::clock();
  std::int16_t status = kFailed;
  try {
    status = body();
  } catch (...) {
    status = kFailed;
  }
  ++stats.Calls;
  stats.Inside += Clock::now() - entered;
  stats.InsideCpu += std::clock() - cpu;
  return status;
}

}  // namespace

// ---- Second generation: CVR_BOARDLINK ----

KT_SIM_API std::int16_t KT_SIM_STDCALL Scan_Bus(std::int32_t vendor, std::int32_t product,
                                                std::int32_t* count, std::uint8_t* list) {
  return Guarded([&]() -> std::int16_t {
    Latency();
    const bool found = BoardAttached() && vendor == kVendorId && product == kProductId;
    if (found) {
      *count = 1;
      list[0] = kBoardId;
    }
    const std::int16_t status = found ? kOk : kNoBoard;
    Trace({{"entry", "Scan_Bus"},
           {"vendor", vendor},
           {"product", product},
           {"count", found ? 1 : 0},
           {"status", status}});
    return status;
  });
}

KT_SIM_API std::int16_t KT_SIM_STDCALL Open_Link(std::int32_t vendor, std::int32_t product,
                                                 std::uint8_t boardId, std::uint32_t* handle) {
  return Guarded([&]() -> std::int16_t {
    Latency();
    const bool found =
        BoardAttached() && vendor == kVendorId && product == kProductId && boardId == kBoardId;
    if (found) *handle = kHandle;
    board.Connected = found;
    const std::int16_t status = found ? kOk : kNoBoard;
    Trace({{"entry", "Open_Link"},
           {"board", boardId},
           {"handle", found ? json(kHandle) : json()},
           {"status", status}});
    return status;
  });
}

KT_SIM_API std::int16_t KT_SIM_STDCALL Load_Code(std::uint32_t handle, char* path) {
  return Guarded([&]() -> std::int16_t {
    Latency();
    std::int16_t status = kNoBoard;
    if (BoardAttached() && board.Connected && handle == kHandle) status = LoadFirmware(path);
    status = Forced("KT_SIM_LOAD_STATUS", status);
    board.Loaded = status == 0;
    Trace({{"entry", "Load_Code"}, {"handle", handle}, {"path", path}, {"status", status}});
    return status;
  });
}

KT_SIM_API std::int16_t KT_SIM_STDCALL Control_Transfer(std::uint32_t handle, std::uint8_t request,
                                                        std::int32_t value, std::int32_t index,
                                                        std::uint8_t, std::int16_t, std::uint8_t*) {
  return Guarded([&]() -> std::int16_t {
    const bool reachable = BoardAttached() && board.Connected && handle == kHandle;
    return SendFrame("Control_Transfer", reachable, request, value, index);
  });
}

// ---- First generation: BoardIO. The link step exports these under the decorated names
// "?InitLink@@YGFPAD@Z" and "?LinkControl@@YGFFJJFFPAD@Z". ----

KT_SIM_API std::int16_t KT_SIM_STDCALL bio_InitLink(char* path) {
  return Guarded([&]() -> std::int16_t {
    Latency();
    std::int16_t status = BoardAttached() ? LoadFirmware(path) : kNoBoard;
    status = Forced("KT_SIM_LOAD_STATUS", status);
    board.Loaded = status >= 0;
    Trace({{"entry", "InitLink"}, {"path", path}, {"status", status}});
    return status;
  });
}

KT_SIM_API std::int16_t KT_SIM_STDCALL bio_LinkControl(std::int16_t request, std::int32_t value,
                                                       std::int32_t index, std::int16_t,
                                                       std::int16_t, char*) {
  return Guarded([&]() -> std::int16_t {
    return SendFrame("LinkControl", BoardAttached(), static_cast<std::uint16_t>(request), value,
                     index);
  });
}
