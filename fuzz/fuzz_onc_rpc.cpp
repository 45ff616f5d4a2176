// SPDX-License-Identifier: MIT
// The RPC record reader, the portmapper's answer and the VXI-11 core channel on any bytes,
// read in chunks of any size: records never exceed the limit nor hold more than came, every
// call answered is answered under its own transaction id with a whole reply header, and
// the links never count more clients than the limit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/error.h"
#include "fakes/scpi_board.h"
#include "vxi11/onc_rpc.h"
#include "vxi11/vxi11.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  constexpr std::size_t kLimit = 512;
  const std::size_t chunk = 1 + data[0] % 16;  // the first byte: how the stream is cut up
  ++data;
  --size;
  kt::remote::rpc::RecordReader reader(kLimit);
  kt::test::RecordingBoard board;
  kt::remote::Shared shared;
  kt::remote::vxi11::Instrument instrument(board, shared, 3);
  std::size_t held = 0;
  for (std::size_t at = 0; at < size; at += chunk) {
    try {
      reader.Feed(data + at, std::min(chunk, size - at));
    } catch (const kt::Error&) {
      return 0;
    }
    while (const auto record = reader.Next()) {
      held += record->size();
      if (record->size() > kLimit || held > size) std::abort();
      for (const bool core : {false, true}) {
        kt::remote::rpc::Bytes reply;
        try {
          // The channel: the record's length, so that links end with their connection too.
          reply = core ? instrument.Answer(*record, static_cast<int>(record->size() % 3))
                       : kt::remote::rpc::AnswerPortmapper(*record, 5025);
        } catch (const kt::Error&) {
          continue;
        }
        // The shortest reply is a denial for its credentials: xid, REPLY, MSG_DENIED,
        // AUTH_ERROR and why, 20 bytes; any other holds at least 24.
        if (reply.size() < 20 || !std::equal(reply.begin(), reply.begin() + 4, record->begin()))
          std::abort();
      }
      if (shared.Clients > 3 || shared.Clients != instrument.Links()) std::abort();
      if (record->size() % 7 == 0) instrument.Close(1);
    }
  }
  return 0;
}
