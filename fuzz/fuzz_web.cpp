// SPDX-License-Identifier: MIT
// The web page's answers to any request, its fields cut from the input at NUL bytes (method,
// target, Host, Origin, Accept, body), against the rules it must keep whatever comes: a GET
// or HEAD sends nothing, another site's POST sends nothing, a POST sends one frame at most,
// a refused one nothing; a form that cannot be read is refused, never raised; the state is
// always JSON.
#include <cctype>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/error.h"
#include "fakes/scpi_board.h"
#include "web/web.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && fields.size() < 6) {
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(data[i]);
    }
  }
  fields.resize(6);
  kt::test::RecordingBoard board;
  kt::remote::Shared shared;
  if (!fields[4].empty() && fields[4][0] == 'L') shared.LockedBy = 1;
  kt::remote::web::Page page(board, shared, {"bench"}, {{"TCPIP::HOST::inst0::INSTR"}});
  const kt::remote::web::Request request{fields[0], fields[1], fields[2],
                                         fields[3], fields[4], "application/x-www-form-urlencoded",
                                         fields[5], {}};
  const kt::remote::web::Response response = page.Answer(request);
  const bool post = request.Method == "POST";
  const bool sameSite =
      request.Origin.empty() || Lower(request.Origin) == "http://" + Lower(request.Host);
  if (!post || !sameSite || shared.LockedBy) Require(board.frames.empty());
  Require(board.frames.size() <= 1);
  if (response.Status >= 400) Require(board.frames.empty());
  Require(response.Status >= 200 && response.Status < 500);
  Require(nlohmann::json::accept(page.State()));
  try {
    kt::remote::web::ReadForm(fields[5]);
  } catch (const kt::Error&) {
    // A broken escape: refused, as the page does.
  }
  return 0;
}
