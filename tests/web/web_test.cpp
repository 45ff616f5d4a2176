// SPDX-License-Identifier: MIT
// The web page's answers, request by request, over a recording board: what a GET shows and
// never changes, what a POST sets (one frame at most), what is refused before anything is
// sent (another site, another host name, a value that is no number, the lock), and the LXI
// identification document. (The board here only records: the browser test drives the real
// one through the real server.)
#include "web/web.h"

#include <gtest/gtest.h>

#include <asio.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "fakes/scpi_board.h"
#include "serve/server.h"

namespace kt::remote::web {
namespace {

using test::RecordingBoard;
using Frame = RecordingBoard::Frame;

TEST(Web, AnswersOnlyToNamesThatAreThisMachines) {
  const std::vector<std::string> names{"bench", "bench.local"};
  const std::pair<std::string, bool> rows[] = {
      {"127.0.0.1", true},
      {"192.0.2.7:8080", true},
      {"[::1]:80", true},
      {"localhost:80", true},
      {"bench", true},
      {"BENCH.local:8080", true},
      {"evil.example", false},
      {"bench.evil.example", false},
      {"localhost.evil:80", false},
      {"", false},
      // What is no host[:port] at all.
      {"127.0.0.1:\xff\xfe", false},
      {"127.0.0.1:", false},
      {"127.0.0.1:65536", false},
      {"127.0.0.1:+80", false},
      {"bench:80:80", false},
      {"[::1", false},
      {"[bench]:80", false},
      {"be<nch", false},
      {"127.0.0.1:65535", true},
  };
  for (const auto& [host, allowed] : rows) EXPECT_EQ(AllowedHost(host, names), allowed) << host;
}

TEST(Web, ReadsFormsAndRefusesBrokenEscapes) {
  using Fields = std::map<std::string, std::string>;
  const std::pair<std::string, Fields> rows[] = {
      {"code=0x1F", {{"code", "0x1F"}}},
      {"a=1&a=2", {{"a", "2"}}},
      {"x=%41+b%3b&&y", {{"x", "A b;"}, {"y", ""}}},
      {"", {}},
  };
  for (const auto& [body, fields] : rows) EXPECT_EQ(ReadForm(body), fields) << body;
  for (const char* broken : {"x=%4", "x=%zz", "x=%"})
    EXPECT_THROW(ReadForm(broken), Error) << broken;
}

TEST(Web, EachRequestSetsAtMostOneThingAndOnlyFromThisPage) {
  struct Row {
    std::string method, target, body;
    int status;
    std::vector<Frame> frames;
    std::string says;  // part of the body
    std::string origin = "http://192.0.2.7:8080";
    std::string host = "192.0.2.7:8080";
    std::string accept = "application/json";
  };
  const Row rows[] = {
      {"GET", "/", "", 200, {}, "<title>KT DAC evaluation board</title>"},
      {"HEAD", "/", "", 200, {}, "<form"},
      {"GET", "/set?code=5", "", 405, {}, "Use POST"},
      {"GET", "/state?code=5", "", 200, {}, R"("code":0,)"},
      {"GET", "/state", "", 200, {}, R"("interfaces":["TCPIP::192.0.2.7::inst0::INSTR"])"},
      {"GET", "/nothing", "", 404, {}, "Not found"},
      {"PUT", "/", "", 405, {}, "Use GET"},
      {"POST", "/set", "code=0x1234", 200, {{0x1234, 0}}, R"("errors":[],"state":{)"},
      {"POST", "/set", "code=%23H10", 200, {{16, 0}}, R"("code":16,)"},
      {"POST", "/set", "code=4660", 200, {{4660, 0}}, R"("code":4660,)"},
      {"POST",
       "/set",
       "code=70000",
       200,
       {},
       R"({"code":-222,"text":"Data out of range;code 70000)"},
      {"POST", "/set", "code=1%3B*RST", 400, {}, "is not a code"},
      {"POST", "/set", "code=", 400, {}, "is not a code"},
      {"POST", "/set", "voltage=1%3BDAC:CODE 5", 400, {}, "is not a number"},
      {"POST", "/set", "mode=tri-state", 200, {{0, 1}}, R"("mode":"tri-state")"},
      {"POST", "/set", "mode=R1K", 400, {}, "is not a mode"},
      {"POST", "/set", "device=KT300", 200, {}, R"("device":"KT300")"},
      {"POST", "/set", "device=kt300", 400, {}, "is not a device"},
      {"POST", "/set", "voltage=1", 200, {}, "-221"},  // no reference yet
      {"POST", "/set", "reference=1e-320", 200, {}, "is below 0.001 V"},
      {"POST", "/set", "code=1&mode=1k", 400, {}, "one of"},
      {"POST", "/set", "fuse=1", 400, {}, "no setting"},
      {"POST", "/set", "code=%4", 400, {}, "broken escape"},
      {"POST", "/set", "code=5", 403, {}, "not this page's", "http://evil.example"},
      {"POST", "/set", "code=5", 403, {}, "not this page's", "null"},
      {"POST", "/set", "code=5", 403, {}, "not this page's", "http://192.0.2.7:9090"},
      {"POST", "/set", "code=5", 403, {}, "not this page's", "http://192.0.2.7:8080.other.example"},
      {"POST", "/set", "code=5", 403, {}, "http://e\xEF\xBF\xBDl.example", "http://e\x8Al.example"},
      {"POST", "/set", "code=5", 200, {{5, 0}}, "", ""},  // no browser: no Origin
      {"POST", "/set", "code=5", 403, {}, "does not answer", "http://evil.example", "evil.example"},
      {"GET", "/", "", 403, {}, "does not answer", "", "rebound.example:8080"},
      {"GET", "/lxi/identification", "", 400, {}, "no host[:port]", "", "127.0.0.1:\xff\xfe"},
      {"POST",
       "/set",
       "code=5",
       303,
       {{5, 0}},
       "See /",
       "http://192.0.2.7:8080",
       "192.0.2.7:8080",
       "text/html"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method + " " + row.target + " " + row.body + " from " + row.origin);
    RecordingBoard board;
    Shared shared;
    Page page(board, shared, {"bench"}, {{"TCPIP::HOST::inst0::INSTR"}});
    const Response response = page.Answer({row.method,
                                           row.target,
                                           row.host,
                                           row.origin,
                                           row.accept,
                                           "application/x-www-form-urlencoded",
                                           row.body,
                                           {}});
    EXPECT_EQ(response.Status, row.status);
    EXPECT_EQ(board.frames, row.frames);
    EXPECT_NE(response.Body.find(row.says), std::string::npos) << response.Body;
  }
}

TEST(Web, VoltageFollowsThePagesReferenceAndTheLockRefusesChanges) {
  RecordingBoard board;
  Shared shared;
  Page page(board, shared, {}, {});
  const auto post = [&](const std::string& body) {
    return page.Answer({"POST", "/set", "localhost", "", "application/json", "", body, {}});
  };
  EXPECT_EQ(post("reference=2.5").Status, 200);
  EXPECT_NE(post("voltage=1.25").Body.find(R"("reference":2.5,)"), std::string::npos);
  EXPECT_EQ(board.frames, (std::vector<Frame>{{32768, 0}}));
  EXPECT_NE(page.State().find(R"("voltage":1.25)"), std::string::npos) << page.State();
  shared.LockedBy = 3;
  const Response locked = post("code=1");
  EXPECT_EQ(locked.Status, 409);
  EXPECT_NE(locked.Body.find("holds the lock"), std::string::npos);
  EXPECT_NE(page.State().find(R"("locked":true)"), std::string::npos);
  EXPECT_EQ(board.frames.size(), 1u);
}

TEST(Web, ThePageShowsTheWaveformPlayingAndStopsIt) {
  RecordingBoard board;
  Shared shared;
  Page page(board, shared, {}, {});
  const auto post = [&](const std::string& body) {
    return page.Answer({"POST", "/set", "localhost", "", "application/json", "", body, {}});
  };
  EXPECT_NE(page.State().find(R"("waveform":null)"), std::string::npos);
  board.generator.Setup.Function = "TRI";
  board.generator.Setup.Cycles = 3;
  board.generator.playing = true;
  EXPECT_NE(
      page.State().find(
          R"("waveform":{"cycles":3,"frequency":1.0,"rate":1000.0,"samples":0,"shape":"TRI"})"),
      std::string::npos)
      << page.State();
  EXPECT_EQ(post("output=on").Status, 400);
  EXPECT_TRUE(board.generator.playing);
  const Response stopped = post("output=off");
  EXPECT_EQ(stopped.Status, 200);
  EXPECT_FALSE(board.generator.playing);
  EXPECT_NE(stopped.Body.find(R"("waveform":null)"), std::string::npos) << stopped.Body;
}

TEST(Web, IdentificationNamesTheInstrumentAndItsResources) {
  struct Row {
    std::string identity, host;
    Network network;
    std::vector<std::string> says;
  };
  const Row rows[] = {
      {"Corvane,KT31X-KT300 evaluation board,0,1.0.4",
       "192.0.2.7:8080",
       {"192.0.2.7",
        platform::NetworkInterface{"255.255.255.0", "02:00:5E:10:00:01", "192.0.2.1", true}},
       {"<Manufacturer>Corvane</Manufacturer>", "<SerialNumber>0</SerialNumber>",
        "<FirmwareRevision>1.0.4</FirmwareRevision>",
        "<IdentificationURL>http://192.0.2.7:8080/lxi/identification</IdentificationURL>",
        "<InstrumentAddressString>TCPIP::192.0.2.7::inst0::INSTR</InstrumentAddressString>",
        "<InstrumentAddressString>TCPIP::192.0.2.7::5025::SOCKET</InstrumentAddressString>",
        R"(IPType="IPv4")",
        "<Hostname>192.0.2.7</Hostname>\n    <IPAddress>192.0.2.7</IPAddress>\n"
        "    <SubnetMask>255.255.255.0</SubnetMask>\n    "
        "<MACAddress>02:00:5E:10:00:01</MACAddress>\n"
        "    <Gateway>192.0.2.1</Gateway>\n    <DHCPEnabled>true</DHCPEnabled>\n"
        "    <AutoIPEnabled>false</AutoIPEnabled>\n  </Interface>"}},
      {"A&B,<M>,\"1\",'2'",
       "[::1]:80",
       {},
       {"<Manufacturer>A&amp;B</Manufacturer>", "<Model>&lt;M&gt;</Model>",
        "<SerialNumber>&quot;1&quot;</SerialNumber>", "<FirmwareRevision>&apos;2&apos;<",
        "<HomepageURL>http://[::1]:80/</HomepageURL>", R"(IPType="IPv6")",
        "TCPIP::[::1]::inst0::INSTR", "<IPAddress>::1</IPAddress>", "<SubnetMask></SubnetMask>",
        "<DHCPEnabled>false</DHCPEnabled>"}},
      // Reached by name on an IPv6 address: the address's family is the interface's.
      {"Corvane,KT31X,0,1", "bench:80", {"fd00::7", {}}, {R"(IPType="IPv6")", "TCPIP::bench::"}},
  };
  for (const auto& row : rows) {
    const std::string xml =
        Identification(row.identity, row.host,
                       {{"TCPIP::HOST::inst0::INSTR"}, {"TCPIP::HOST::5025::SOCKET"}}, row.network);
    for (const std::string& part : row.says)
      EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
  }
}

// Whether this machine has IPv6's loopback (a kernel may be built or booted without IPv6).
bool HasIpv6Loopback() {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io);
  std::error_code error;
  acceptor.open(asio::ip::tcp::v6(), error);
  if (!error) acceptor.bind({asio::ip::address_v6::loopback(), 0}, error);
  return !error;
}

TEST(Web, TheSystemTellsOfTheInterfaceHoldingTheAddressReached) {
  // Loopback is on every machine; the namespace test reads a real network's interface.
  const std::pair<std::string, std::optional<std::string>> rows[] = {
      {"127.0.0.1", "255.0.0.0"},   {"::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {"192.0.2.99", std::nullopt},  // held by no interface here
      {"bench", std::nullopt},      {"", std::nullopt},
  };
  for (const auto& [address, mask] : rows) {
    if (address == "::1" && !HasIpv6Loopback()) continue;
    const auto found = platform::InterfaceHolding(address);
    ASSERT_EQ(found.has_value(), mask.has_value()) << address;
    if (!found) continue;
    EXPECT_EQ(found->Mask, *mask) << address;
    EXPECT_EQ(found->Mac, "") << address;  // loopback has no hardware address
    EXPECT_EQ(found->Gateway, "") << address;
  }
}

TEST(Web, ReadsWhereToListenAndWhereThePageIs) {
  struct Row {
    std::string listen, http;
    std::string address, httpAddress;  // empty: refused, `address` then part of the message
    unsigned short port = 0, httpPort = 0;
  };
  const Row rows[] = {
      {"192.0.2.7:5025", "8080", "192.0.2.7", "192.0.2.7", 5025, 8080},
      {":5025", "0.0.0.0:80", "127.0.0.1", "0.0.0.0", 5025, 80},
      {"[::1]:0", "[::]:65535", "::1", "::", 0, 65535},
      {"0.0.0.0:65535", "", "0.0.0.0", "", 65535},
      {"127.0.0.1:65536", "", "", "--listen 127.0.0.1:65536: the port must be 0..65535"},
      {"127.0.0.1:", "", "", "the port must be"},
      {"127.0.0.1:5x", "", "", "the port must be"},
      {"127.0.0.1:123456", "", "", "the port must be"},
      {"127.0.0.1", "", "", "--listen 127.0.0.1 is not ADDRESS:PORT"},
      {"bench:5025", "", "", R"("bench" is not an IP address)"},
      {":5025", "bench:80", "", R"(--http bench:80: "bench" is not an IP address)"},
      {":5025", "70000", "", "--http 70000: the port must be"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.listen + " " + row.http);
    try {
      Listen listen = ParseListen(row.listen);
      if (!row.http.empty()) ParseHttp(row.http, listen);
      EXPECT_EQ(listen.Address, row.address);
      EXPECT_EQ(listen.Port, row.port);
      EXPECT_EQ(listen.HttpAddress, row.httpAddress);
      EXPECT_EQ(listen.HttpPort.value_or(0), row.httpPort);
      EXPECT_EQ(listen.HttpPort.has_value(), !row.http.empty());
    } catch (const Error& error) {
      EXPECT_TRUE(row.address.empty()) << error.what();
      EXPECT_NE(std::string(error.what()).find(row.httpAddress), std::string::npos) << error.what();
    }
  }
}

TEST(Web, AnnouncesEachServiceServed) {
  struct Row {
    unsigned short vxi11, http;
    std::vector<std::pair<std::string, unsigned short>> services;
  };
  const Row rows[] = {
      {0, 0, {{"_scpi-raw._tcp", 5025}}},
      {4000, 0, {{"_scpi-raw._tcp", 5025}, {"_vxi-11._tcp", 111}}},
      {4000,
       80,
       {{"_scpi-raw._tcp", 5025}, {"_vxi-11._tcp", 111}, {"_lxi._tcp", 80}, {"_http._tcp", 80}}},
  };
  for (const auto& row : rows) {
    const auto services = ServicesOf("Corvane,KT31X,7,1.0", "192.0.2.7", 5025, row.vxi11, row.http);
    std::vector<std::pair<std::string, unsigned short>> seen;
    for (const auto& service : services) {
      seen.emplace_back(service.Type, service.Port);
      EXPECT_EQ(service.Text.at(2), (std::pair<std::string, std::string>{"Model", "KT31X"}));
      const bool page = service.Type == kLxiServiceType || service.Type == kHttpServiceType;
      EXPECT_EQ(service.Text.back().first == "path", page) << service.Type;
    }
    EXPECT_EQ(seen, row.services);
  }
  const auto services = ServicesOf("Corvane,KT31X,7,1.0", "192.0.2.7", 5025, 0, 80);
  EXPECT_EQ(services.at(2).Text.back().second, "/");
}

}  // namespace
}  // namespace kt::remote::web
