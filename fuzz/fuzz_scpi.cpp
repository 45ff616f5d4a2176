// SPDX-License-Identifier: MIT
// ktdac serve's SCPI parser and message framing on any text, against references written here:
// numbers by regular expressions and the C library's conversions, headers by a regular expression
// of each command's long and short forms. A message that is one known query must be answered
// without an error; a well-formed header that names no command must be -113.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>

#include "fakes/scpi_board.h"
#include "scpi/framing.h"
#include "scpi/session.h"

namespace {

std::optional<double> ReferenceNumber(const std::string& text) {
  static const std::regex decimal(R"(^[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?$)");
  static const std::regex other(R"(^#([Hh][0-9A-Fa-f]+|[Qq][0-7]+|[Bb][01]+)$)");
  errno = 0;
  if (std::regex_match(text, decimal)) {
    const double value = std::strtod(text.c_str(), nullptr);
    // Beyond the doubles, or so small it is 0: no number. A subnormal one still is, though
    // the C library says ERANGE for it.
    if (!std::isfinite(value) || (errno == ERANGE && value == 0)) return std::nullopt;
    return value;
  }
  if (std::regex_match(text, other)) {
    const char kind = static_cast<char>(text[1] | 0x20);
    const unsigned long long value = std::strtoull(text.c_str() + 2, nullptr,
                                                   kind == 'h'   ? 16
                                                   : kind == 'q' ? 8
                                                                 : 2);
    if (errno == ERANGE) return std::nullopt;
    return static_cast<double>(value);
  }
  return std::nullopt;
}

const std::regex& KnownHeader() {
  static const std::regex known(
      R"(^(\*(CLS|ESE|ESR|IDN|OPC|RST|SRE|STB|TST|WAI)|)"
      R"(SYST(EM)?:(ERR(OR)?(:NEXT|:COUN(T)?|:ALL)?|VERS(ION)?)|)"
      R"((SOUR(CE)?:)?(DAC:(DEV(ICE)?|CODE|PDOW(N)?|RAW|STAT(US)?)|)"
      R"(VOLT(AGE)?(:REF(ERENCE)?|:AMPL(ITUDE)?|:OFFS(ET)?)?|FUNC(TION)?(:SHAP(E)?|:SRAT(E)?)?|)"
      R"(FREQ(UENCY)?|BURS(T)?:NCYC(LES)?|DATA:DAC(:POIN(TS)?)?)|)"
      R"(FORM(AT)?:BORD(ER)?|OUTP(UT)?(:STAT(E)?)?|ABOR(T)?)$)",
      std::regex::icase);
  return known;
}

const std::regex& PlainQuery() {  // answered with no parameter and no setting needed first
  static const std::regex query(R"(^(\*(ESE|ESR|IDN|OPC|SRE|STB|TST)|)"
                                R"(SYST(EM)?:(ERR(OR)?(:NEXT|:COUN(T)?|:ALL)?|VERS(ION)?)|)"
                                R"((SOUR(CE)?:)?DAC:(DEV(ICE)?|CODE|PDOW(N)?|STAT(US)?))\?$)",
                                std::regex::icase);
  return query;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 256) return -1;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('\0') == std::string::npos &&
      kt::remote::ParseNumber(text) != ReferenceNumber(text))
    std::abort();

  // Where a message ends: at an LF, or where a limit was passed; never beyond what came.
  const kt::remote::Framing framing = kt::remote::FindMessage(text, 64);
  if (framing.Size > size ||
      (framing.What == kt::remote::Framing::End::Whole && text[framing.Size - 1] != '\n'))
    std::abort();

  kt::test::RecordingBoard board;
  kt::remote::Session session(board);
  const std::string response = session.Execute(text);
  if (response.find('\n') != std::string::npos) std::abort();
  // Whatever the text, only codes and modes the model has reach the board.
  for (const auto& frame : board.frames) {
    if (frame.code < 0 || frame.code >= (1 << frame.dataBits) || frame.mode < 0 || frame.mode > 3)
      std::abort();
  }

  // One unit, printable ASCII, no parameters: the header alone decides.
  static const std::regex plain(R"(^:?[*A-Za-z][A-Za-z0-9_:]*\??$)");
  if (!std::regex_match(text, plain) || text.find("::") != std::string::npos ||
      text.back() == ':' || (text[0] == ':' && text.size() > 1 && text[1] == '*'))
    return 0;
  std::string header = text[0] == ':' ? text.substr(1) : text;
  if (header[0] == '*' && header.find(':') != std::string::npos) return 0;
  const bool query = header.back() == '?';
  if (std::regex_match(header, PlainQuery())) {
    if (response.empty() || !session.Errors().empty()) std::abort();
    return 0;
  }
  if (query) header.pop_back();
  // Only a well-formed header can be an unknown one; the rest are syntax errors.
  static const std::regex wellFormed(
      R"(^(\*[A-Za-z][A-Za-z0-9_]*|[A-Za-z][A-Za-z0-9_]*(:[A-Za-z][A-Za-z0-9_]*)*)$)");
  if (!std::regex_match(header, wellFormed)) return 0;
  if (!std::regex_match(header, KnownHeader())) {
    if (session.Errors().empty() || session.Errors().front().Code != -113) std::abort();
  }
  return 0;
}
