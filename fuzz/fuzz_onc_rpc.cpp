// SPDX-License-Identifier: MIT
// The RPC record reader and the portmapper's answer on any bytes, read in chunks of any
// size: records never exceed the limit nor hold more than came, and every call answered is
// answered under its own transaction id with a whole reply header.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/error.h"
#include "remote/onc_rpc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  constexpr std::size_t kLimit = 512;
  const std::size_t chunk = 1 + data[0] % 16;  // the first byte: how the stream is cut up
  ++data;
  --size;
  kt::remote::rpc::RecordReader reader(kLimit);
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
      kt::remote::rpc::Bytes reply;
      try {
        reply = kt::remote::rpc::AnswerPortmapper(*record, 5025);
      } catch (const kt::Error&) {
        continue;
      }
      if (reply.size() < 24 || !std::equal(reply.begin(), reply.begin() + 4, record->begin()))
        std::abort();
    }
  }
  return 0;
}
