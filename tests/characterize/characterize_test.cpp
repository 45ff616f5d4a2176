// SPDX-License-Identifier: MIT
// ktdac characterize as a user runs it: the real client, the real simulated board library
// and the real simulated meter (kt-sim-meter) over loopback TCP. The figures' arithmetic is
// checked against small cases worked by hand.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "characterize/code_plan.h"
#include "characterize/evaluation.h"
#include "characterize/plot.h"
#include "characterize/run.h"
#include "console/parsing.h"
#include "core/error.h"
#include "dac/linearity.h"
#include "meter/resource.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;
#endif

namespace kt {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string Read(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// ---- The figures, against cases worked by hand ----

TEST(Linearity, HandWorkedCases) {
  struct Row {
    const char* name;
    int bits;
    double vref;
    std::vector<dac::MeasuredCode> points;
    double offset, gainPercent, fullScale;  // V, %, V
    double epInlMax, epInlMin, bfInlMax, dnlMax, dnlMin;
    std::int32_t epInlMaxCode, dnlMaxCode, dnlMinCode;
    std::optional<std::int32_t> decrease;
  };
  const Row rows[] = {
      // 1 LSB = 1 V. Code 3 stands 0.5 V high: INL +0.5 there by the end points (0 V, 7 V);
      // DNL +0.5 into it and -0.5 out of it. The least-squares line over x = 0..7: the
      // deviations e = 0.5 at x = 3 give slope 1 + (3 - 3.5)(0.5) / 42 = 0.994047619 and
      // offset 3.5625 - 3.5 × slope = 0.083333333; at code 3 the residual is
      // 3.5 - 0.083333333 - 3 × 0.994047619 = 0.434523810 V, 0.437125749 of the slope's LSB.
      {"3 bits, one high code",
       3,
       8,
       {{0, 0}, {1, 1}, {2, 2}, {3, 3.5}, {4, 4}, {5, 5}, {6, 6}, {7, 7}},
       0,
       0,
       0,
       0.5,
       0,
       0.437125749,
       0.5,
       -0.5,
       3,
       3,
       4,
       std::nullopt},
      // 1 LSB = 1 V, offset 0.1 V, end points 0.1 and 3.1 V: no gain error; code 2 is 0.2 V
      // high. Least squares: means 1.5 and 1.65, Sxy 5.1, Sxx 5: slope 1.02, offset 0.12;
      // residual at code 2: 2.3 - 2.16 = 0.14 V, 0.137254902 of 1.02 V.
      {"2 bits, offset",
       2,
       4,
       {{0, 0.1}, {1, 1.1}, {2, 2.3}, {3, 3.1}},
       0.1,
       0,
       0.1,
       0.2,
       0,
       0.137254902,
       0.2,
       -0.2,
       2,
       2,
       3,
       std::nullopt},
      // A step of 0.99 V a code: -1 % gain, -0.03 V at full scale, straight otherwise (where
      // the DNL's extremes fall among equal steps is left to rounding: -1, not checked).
      {"2 bits, gain",
       2,
       4,
       {{0, 0}, {1, 0.99}, {2, 1.98}, {3, 2.97}},
       0,
       -1,
       -0.03,
       0,
       0,
       0,
       0,
       0,
       -1,
       -1,
       -1,
       std::nullopt},
      // Code 4 falls 0.1 V below code 3: DNL -1.1 there, not monotonic. Least squares:
      // slope 1 - 0.5 × 1.1 / 42 = 0.986904762, offset 3.3625 - 3.5 × slope = -0.091666667;
      // residual at code 7: 0.183333333 V, 0.185765983 of the slope.
      {"3 bits, a fall",
       3,
       8,
       {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 2.9}, {5, 5}, {6, 6}, {7, 7}},
       0,
       0,
       0,
       0,
       -1.1,
       0.185765983,
       1.1,
       -1.1,
       0,
       5,
       4,
       4},
      // Every other code: a step of two codes stands for both (DNL +0.25 = 0.5 V over two).
      // Least squares: means 3.8 and 3.9, Sxy 32.9, Sxx 32.8: slope 1.003048780, offset
      // 0.088414634; residual at code 4: 0.399390244 V, 0.398176292 of the slope.
      {"3 bits, every other code",
       3,
       8,
       {{0, 0}, {2, 2}, {4, 4.5}, {6, 6}, {7, 7}},
       0,
       0,
       0,
       0.5,
       0,
       0.398176292,
       0.25,
       -0.25,
       4,
       4,
       6,
       std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const dac::StaticFigures f = dac::Analyse(row.points, row.bits, row.vref);
    EXPECT_NEAR(f.Offset.Volts, row.offset, 1e-9);
    EXPECT_NEAR(f.GainPercent, row.gainPercent, 1e-9);
    EXPECT_NEAR(f.FullScale.Volts, row.fullScale, 1e-9);
    EXPECT_NEAR(f.EndPointInl.Max, row.epInlMax, 1e-9);
    EXPECT_NEAR(f.EndPointInl.Min, row.epInlMin, 1e-9);
    EXPECT_NEAR(f.BestFitInl.Max, row.bfInlMax, 1e-9);
    EXPECT_NEAR(f.Dnl.Max, row.dnlMax, 1e-9);
    EXPECT_NEAR(f.Dnl.Min, row.dnlMin, 1e-9);
    if (row.dnlMaxCode >= 0) {
      EXPECT_EQ(f.EndPointInl.MaxCode, row.epInlMaxCode);
      EXPECT_EQ(f.Dnl.MaxCode, row.dnlMaxCode);
      EXPECT_EQ(f.Dnl.MinCode, row.dnlMinCode);
    }
    EXPECT_EQ(f.Monotonic, !row.decrease);
    EXPECT_EQ(f.FirstDecrease, row.decrease);
  }
  const dac::StaticFigures first = dac::Analyse(rows[0].points, 3, 8);
  EXPECT_NEAR(first.BestFit.Step, 0.994047619, 1e-9);
  EXPECT_NEAR(first.BestFit.Offset, 0.083333333, 1e-9);
  EXPECT_NEAR(first.Offset.Percent, 0, 1e-12);
  EXPECT_NEAR(dac::Analyse(rows[1].points, 2, 4).Offset.Percent, 2.5, 1e-9);
}

// Figures each checked where a plausible slip would change them and nothing else: a flat step
// (monotonic means never falling), several falls (the first is named), the end-point gain error
// over 2^N - 1 steps in every unit, the sample deviation, and the summary's and plot's reading
// of the figures.
TEST(Linearity, EachFigureWhereASlipWouldShow) {
  struct Row {
    const char* name;
    std::vector<dac::MeasuredCode> points;  // 2 bits, vref 4: 1 LSB = 1 V
    bool monotonic;
    std::optional<std::int32_t> firstFall;
  };
  const Row rows[] = {
      {"a flat step", {{0, 0}, {1, 1}, {2, 1}, {3, 3}}, true, std::nullopt},
      {"two falls", {{0, 0.5}, {1, 0.2}, {2, 2}, {3, 1.9}}, false, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const dac::StaticFigures f = dac::Analyse(row.points, 2, 4);
    EXPECT_EQ(f.Monotonic, row.monotonic);
    EXPECT_EQ(f.FirstDecrease, row.firstFall);
  }
  // 0.99 V a step over 3 steps: the span is 0.03 V short, -0.03 LSB, -0.75 % of the 4 V scale.
  const dac::StaticFigures gain =
      dac::Analyse(std::vector<dac::MeasuredCode>{{0, 0}, {1, 0.99}, {2, 1.98}, {3, 2.97}}, 2, 4);
  EXPECT_NEAR(gain.Gain.Volts, -0.03, 1e-12);
  EXPECT_NEAR(gain.Gain.Lsb, -0.03, 1e-12);
  EXPECT_NEAR(gain.Gain.Percent, -0.75, 1e-12);

  // DNL +0.5 into code 3, -0.5 out of it at code 4: each at its own code in the summaries.
  const std::vector<dac::MeasuredCode> high{{0, 0}, {1, 1}, {2, 2}, {3, 3.5},
                                            {4, 4}, {5, 5}, {6, 6}, {7, 7}};
  const dac::StaticFigures f = dac::Analyse(high, 3, 8);
  const characterize::RunInfo run{"KT300", 3, 8, "0-7", 8, 1, "meter"};
  const json summary = json::parse(characterize::SummaryJson(run, f));
  EXPECT_EQ(summary["dnl"]["max_code"], 3);
  EXPECT_EQ(summary["dnl"]["min_code"], 4);
  const std::string text = characterize::SummaryText(run, f);
  EXPECT_NE(text.find("+0.5000"), std::string::npos) << text;
  // The error plot, up the right way: code 3's point (0.5 V high) is drawn above the others.
  const std::vector<characterize::Plot> plots = characterize::Plots(f, high);
  const std::string svg = characterize::Svg(plots.front());
  const std::string path = svg.substr(svg.find("<path d=\"M") + 10);
  std::vector<double> ys;
  std::istringstream points(path.substr(0, path.find('"')));
  for (std::string point; points >> point;)
    if (point != "L" && point.find(',') != std::string::npos)
      ys.push_back(std::stod(point.substr(point.find(',') + 1)));
  ASSERT_EQ(ys.size(), 8u) << path;
  EXPECT_LT(ys[3], ys[2]) << "SVG's y grows downwards: a higher value is a smaller y";
  EXPECT_LT(ys[3], ys[4]);
}

TEST(Linearity, RefusesPointsThatCannotBeAnalysed) {
  const std::vector<std::vector<dac::MeasuredCode>> rows = {
      {{0, 0}},                          // one point
      {{1, 0}, {7, 7}},                  // no code 0
      {{0, 0}, {6, 6}},                  // no last code
      {{0, 0}, {3, 3}, {2, 2}, {7, 7}},  // not ascending
      {{0, 1}, {7, 1}},                  // no span
  };
  for (const auto& points : rows) EXPECT_THROW(dac::Analyse(points, 3, 8), Error);
}

TEST(CodePlan, ReadsEveryFormAlwaysWithBothEnds) {
  struct Row {
    const char* text;
    bool hex;
    std::int32_t last;
    const char* canonical;  // empty: a usage error
  };
  const Row rows[] = {
      {"all", true, 7, "0-7"},
      {"every:3", true, 15, "0-15:3"},
      {"every:4", true, 14, "0-12:4,14"},
      {"every:100", true, 15, "0,15"},
      {"8", true, 15, "0,8,15"},
      {"0x8,A-C", true, 15, "0,8,10-12,15"},
      {"10-12", false, 15, "0,10-12,15"},
      {"0-15:5,7,7", false, 15, "0,5,7,10,15"},
      {"F,0,F", true, 15, "0,15"},
      {"every:8,3-5", true, 15, "0,3-5,8,15"},
      {"5-5", true, 15, "0,5,15"},
      {"2-2:3", false, 15, "0,2,15"},
      {"", true, 15, ""},
      {"16", false, 15, ""},
      {"1-2-3", true, 15, ""},
      {"5-3", true, 15, ""},
      {"0-8:0", true, 15, ""},
      {"every:0", true, 15, ""},
      {"every:x", true, 15, ""},
      {"1,,2", true, 15, ""},
      {"G", true, 15, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    if (*row.canonical == '\0') {
      EXPECT_THROW(characterize::ParseCodePlan(row.text, row.hex, row.last), cli::UsageError);
      continue;
    }
    const characterize::CodePlan plan = characterize::ParseCodePlan(row.text, row.hex, row.last);
    EXPECT_EQ(plan.Text, row.canonical);
    EXPECT_EQ(plan.Codes.front(), 0);
    EXPECT_EQ(plan.Codes.back(), row.last);
    EXPECT_TRUE(std::is_sorted(plan.Codes.begin(), plan.Codes.end()));
  }
  EXPECT_EQ(characterize::ParseCodePlan("all", true, 0xFFFF).Codes.size(), 65536u);
  // The same codes named 2,000 times over are the same 65,536 codes, held once.
  std::string repeated = "0-FFFF";
  for (int i = 1; i < 2000; ++i) repeated += ",0-FFFF";
  EXPECT_EQ(characterize::ParseCodePlan(repeated, true, 0xFFFF).Text, "0-65535");
}

// The meter's range is the one given, or the smallest decade that holds the reference, which
// may be known only once the board has told it.
TEST(MeterSettings, TheRangeHoldsTheReferenceUnlessOneIsGiven) {
  struct Row {
    double vref;
    std::optional<double> range;
    std::vector<std::string> setup;
    const char* configured;  // the range command, or the first command of a setup given
  };
  const Row rows[] = {
      {0.5, {}, {}, "CONF:VOLT:DC 1"},          {1, {}, {}, "CONF:VOLT:DC 1"},
      {2.5, {}, {}, "CONF:VOLT:DC 10"},         {10, {}, {}, "CONF:VOLT:DC 10"},
      {10.5, {}, {}, "CONF:VOLT:DC 100"},       {2.5, 3, {}, "CONF:VOLT:DC 3"},
      {2.5, {}, {"*RST", "CONF:VOLT"}, "*RST"},
  };
  for (const Row& row : rows) {
    characterize::Settings command{};
    command.MeterRange = row.range;
    command.MeterSettings.Setup = row.setup;
    const std::vector<std::string> setup = characterize::MeterSettingsFor(command, row.vref).Setup;
    const auto found = std::find(setup.begin(), setup.end(), row.configured);
    EXPECT_NE(found, setup.end()) << row.vref << " " << ::testing::PrintToString(setup);
  }
}

TEST(MeterResource, ReadsVisaStringsAndHostPort) {
  struct Row {
    const char* text;
    const char* host;  // nullptr: refused
    const char* port;
  };
  const Row rows[] = {
      {"TCPIP::192.168.1.20::5025::SOCKET", "192.168.1.20", "5025"},
      {"tcpip0::dmm.lab::5555::socket", "dmm.lab", "5555"},
      {"TCPIP::dmm.lab::SOCKET", "dmm.lab", "5025"},
      {"127.0.0.1:5025", "127.0.0.1", "5025"},
      {"[::1]:5025", "::1", "5025"},
      {"TCPIP::[::1]::5025::SOCKET", "::1", "5025"},
      {"TCPIP::[fe80::1]::SOCKET", "fe80::1", "5025"},
      {"TCPIP::dmm.lab::INSTR", nullptr, nullptr},
      {"TCPIP::::5025::SOCKET", nullptr, nullptr},
      {"TCPIP::h::70000::SOCKET", nullptr, nullptr},
      {"TCPIPx::h::5025::SOCKET", nullptr, nullptr},
      {"dmm.lab", nullptr, nullptr},
      {"dmm.lab:0", nullptr, nullptr},
      {":5025", nullptr, nullptr},
      {"::1:5025", nullptr, nullptr},
      {"[::1]5025", nullptr, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    if (!row.host) {
      EXPECT_THROW(meter::ParseResource(row.text), Error);
      continue;
    }
    const meter::Resource resource = meter::ParseResource(row.text);
    EXPECT_EQ(resource.Host, row.host);
    EXPECT_EQ(resource.Port, row.port);
  }
}

TEST(Plot, TicksAreRoundAndCoverTheRange) {
  struct Row {
    double low, high;
    int wanted;
    std::vector<double> ticks;
  };
  const Row rows[] = {
      {0, 65535, 8, {0, 10000, 20000, 30000, 40000, 50000, 60000}},
      {-1.3, 0.6, 6, {-1, -0.5, 0, 0.5}},
      {-0.2, 3.1, 6, {0, 1, 2, 3}},
      {-0.2, 3.1, 12, {0, 0.5, 1, 1.5, 2, 2.5, 3}},
      {2, 2, 6, {2}},
  };
  for (const Row& row : rows) {
    const std::vector<double> ticks = characterize::Ticks(row.low, row.high, row.wanted);
    ASSERT_EQ(ticks.size(), row.ticks.size()) << row.low << ".." << row.high;
    for (std::size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i], row.ticks[i], 1e-9);
  }
}

TEST(Plot, AnEnvelopeKeepsEveryExtremeInOrderAndStaysSmall) {
  characterize::Envelope envelope(0, 65535, 16);
  for (int x = 0; x <= 65535; ++x) envelope.Add(x, x == 30000 ? 9.0 : x == 30001 ? -9.0 : 0.0);
  const auto points = envelope.Points();
  EXPECT_LE(points.size(), 16u * 4);
  const auto high = std::find(points.begin(), points.end(), std::pair<double, double>{30000, 9});
  const auto low = std::find(points.begin(), points.end(), std::pair<double, double>{30001, -9});
  ASSERT_NE(high, points.end());
  ASSERT_NE(low, points.end());
  EXPECT_LT(high, low) << "the spike up comes before the one down, as measured";
  EXPECT_EQ(points.front(), (std::pair<double, double>{0, 0}));
  EXPECT_EQ(points.back(), (std::pair<double, double>{65535, 0}));
  EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                             [](auto& a, auto& b) { return a.first < b.first; }));
}

// ---- End to end ----

using test::Result;

Result Ktdac(const std::vector<std::string>& args) { return test::Run("ktdac", args); }

// A fresh folder name in the test's temporary folder, another at each call.
std::string Folder(const std::string& name) {
  static int count = 0;
  const std::string path = test::WriteTempFile(name + std::to_string(++count), "");
  fs::remove_all(path);
  return path;
}

// @brief The bench of one test: the channel from the simulated board to the meter, the
// board's trace and a simulated meter on a free loopback port.
class Bench {
 public:
  explicit Bench(const std::vector<std::string>& meterArgs)
      : channel_("KT_SIM_DAC_OUTPUT", test::WriteTempFile("dac.json", "")) {
    fs::remove(std::getenv("KT_SIM_DAC_OUTPUT"));
    std::vector<std::string> args{"--listen", "127.0.0.1:0"};
    args.insert(args.end(), meterArgs.begin(), meterArgs.end());
    const std::string out = test::WriteTempFile("meter.out", "");
    meter_ = test::Start("kt-sim-meter", args, out, test::WriteTempFile("meter.err", ""));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (port_.empty() && std::chrono::steady_clock::now() < deadline) {
      std::string text = Read(out);
      // The line ends in CR LF on Windows.
      if (const auto colon = text.rfind(':'); colon != std::string::npos && text.back() == '\n')
        port_ = text.substr(colon + 1, text.find_first_of("\r\n", colon) - colon - 1);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(port_.empty()) << "the simulated meter did not start";
  }
  ~Bench() { test::Kill(meter_); }
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  [[nodiscard]] std::string Address() const { return "TCPIP::127.0.0.1::" + port_ + "::SOCKET"; }
  test::Trace trace;

 private:
  test::ScopedEnv channel_;
  test::Child meter_{};
  std::string port_;
};

std::vector<std::string> Characterize(const Bench& bench, const std::string& output,
                                      std::vector<std::string> more) {
  std::vector<std::string> args{"characterize", "--meter", bench.Address(), "--output", output};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

json Summary(const std::string& folder) { return json::parse(Read(folder + "/summary.json")); }

// Rows of the CSV: its lines that are neither comments nor the column names.
std::vector<std::string> Rows(const std::string& csv) {
  std::vector<std::string> rows;
  std::istringstream in(Read(csv));
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#' && line.rfind("code,", 0) != 0) rows.push_back(line);
  return rows;
}

TEST(Characterize, FindsPlantedImperfectionsWithinTheNoisesTolerance) {
  // KT300 at 5 V: 1 LSB = 305.2 µV. Noise 20 µV rms, 4 readings a code: a mean's σ is 10 µV
  // (0.033 LSB), a step's (two means) 14 µV (0.046 LSB). Tolerances are 6 σ of the figure.
  struct Check {
    const char* pointer;  // into summary.json
    double expected, tolerance;
  };
  struct Row {
    const char* name;
    std::vector<std::string> meter, run;
    std::vector<Check> checks;
    std::optional<std::int32_t> decrease = std::nullopt;
    std::pair<const char*, std::pair<int, int>> where{nullptr, {0, 0}};  // a code within bounds
  };
  const std::vector<std::string> noisy{"--noise", "20e-6", "--vref", "5"};
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.end(), noisy.begin(), noisy.end());
    return more;
  };
  const std::vector<std::string> kt300{"--device",  "KT300", "--vref",   "5",
                                       "--average", "4",     "--settle", "0"};
  const auto run = [&](std::vector<std::string> more) {
    more.insert(more.end(), kt300.begin(), kt300.end());
    return more;
  };
  const Row rows[] = {
      {"offset 2 mV",
       with({"--offset", "0.002"}),
       run({"--codes", "every:512"}),
       {{"/offset_error/v", 0.002, 60e-6}, {"/gain_error_percent", 0, 0.002}}},
      {"gain error -0.1 %",
       with({"--gain-error", "-0.1"}),
       run({"--codes", "every:512"}),
       {{"/gain_error_percent", -0.1, 0.002},
        {"/full_scale_error/v", -0.001 * 5 * 16383 / 16384, 90e-6},
        {"/offset_error/v", 0, 60e-6}}},
      {"INL bow 3 LSB",
       with({"--bow", "3"}),
       run({"--codes", "every:256"}),
       {{"/inl_end_point/max/lsb", 3, 0.2}, {"/inl_end_point/min/lsb", 0, 0.2}},
       std::nullopt,
       {"/inl_end_point/max_code", {7168, 9216}}},
      {"DNL step +0.6 LSB at mid-scale",
       with({"--step", "8192:0.6"}),
       run({"--codes", "0-3FFF:1024,1FF8-2008"}),
       {{"/dnl/max/lsb", 0.6, 0.28}, {"/dnl/max_code", 8192, 0}}},
      {"a -1.2 LSB step breaks monotonicity",
       with({"--step", "5000:-1.2"}),
       run({"--format", "dec", "--codes", "0-16383:1024,4990-5010"}),
       {{"/dnl/min/lsb", -1.2, 0.28}, {"/dnl/min_code", 5000, 0}},
       5000},
      {"16 bits, offset and gain together, settling",
       {"--offset", "-0.001", "--gain-error", "0.05", "--vref", "2.5", "--settle", "0.002"},
       {"--device", "KT310", "--vref", "2.5", "--codes", "every:8192", "--settle", "40ms"},
       {{"/offset_error/v", -0.001, 1e-6},
        {"/gain_error_percent", 0.05, 1e-4},
        {"/inl_end_point/max/lsb", 0, 0.01},
        {"/inl_end_point/min/lsb", 0, 0.01}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bench bench(row.meter);
    const std::string output = Folder("run");
    const Result result = Ktdac(Characterize(bench, output, row.run));
    ASSERT_EQ(result.status, 0) << result.err;
    const json summary = Summary(output);
    for (const Check& check : row.checks)
      EXPECT_NEAR(summary.at(json::json_pointer(check.pointer)).get<double>(), check.expected,
                  check.tolerance)
          << check.pointer;
    EXPECT_EQ(summary["monotonic"].get<bool>(), !row.decrease);
    if (row.decrease) {
      EXPECT_EQ(summary["first_decrease_code"], *row.decrease);
    }
    if (row.where.first) {
      const int code = summary.at(json::json_pointer(row.where.first)).get<int>();
      EXPECT_GE(code, row.where.second.first);
      EXPECT_LE(code, row.where.second.second);
    }
    // Every code of the plan once, in order, each with one frame through the update's road.
    const std::vector<std::string> rowsWritten = Rows(output + "/characterization.csv");
    EXPECT_EQ(summary["codes"].get<std::size_t>(), rowsWritten.size());
    EXPECT_EQ(bench.trace.Frames().size(), rowsWritten.size());
    // Each column under its own name, and the readings' spread the sample one (n - 1).
    const std::string csvText = Read(output + "/characterization.csv");
    const std::size_t at = csvText.find("\ncode,") + 1;
    std::vector<std::string> columns;
    std::istringstream header(csvText.substr(at, csvText.find('\n', at) - at));
    for (std::string name; std::getline(header, name, ',');) columns.push_back(name);
    const auto count = static_cast<std::size_t>(
        std::count_if(columns.begin(), columns.end(),
                      [](const std::string& name) { return name.rfind("reading_", 0) == 0; }));
    ASSERT_EQ(columns.back(), "elapsed_s");
    for (const std::string& line : rowsWritten) {
      std::vector<double> cells;
      std::istringstream fields(line);
      for (std::string cell; std::getline(fields, cell, ',');)
        cells.push_back(cell.empty() ? NAN : std::stod(cell));
      if (line.back() == ',') cells.push_back(NAN);
      ASSERT_EQ(cells.size(), columns.size()) << line;
      if (count < 2) continue;
      double mean = 0, squares = 0;
      for (std::size_t i = 0; i < count; ++i) mean += cells[2 + i] / static_cast<double>(count);
      for (std::size_t i = 0; i < count; ++i) squares += std::pow(cells[2 + i] - mean, 2);
      EXPECT_NEAR(cells[2 + count + 1], std::sqrt(squares / static_cast<double>(count - 1)), 1e-12)
          << line;
    }
    EXPECT_NE(result.out.find("meter: KT Instruments,SIM-DMM6"), std::string::npos);
    for (const char* file : {"summary.txt", "error.svg", "inl.svg", "dnl.svg", "report.html"})
      EXPECT_TRUE(fs::is_regular_file(output + "/" + file)) << file;
  }
}

// A loopback port that refuses connections: listened on a moment, then closed.
std::string ClosedPort() {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  return std::to_string(acceptor.local_endpoint().port());
}

TEST(Characterize, AFailingMeterEndsTheRunWithStatus6AndKeepsEveryMeasuredRow) {
  struct Row {
    const char* name;
    std::vector<std::string> meter;  // empty: no meter at the address
    std::vector<std::string> run;
    const char* message;
    std::size_t rows;  // kept in the CSV
  };
  const std::vector<std::string> quick{"--device",        "KT300", "--vref",  "2.5",
                                       "--settle",        "0",     "--codes", "every:2048",
                                       "--meter-timeout", "300ms"};
  const auto run = [&](std::vector<std::string> more) {
    more.insert(more.begin(), quick.begin(), quick.end());
    return more;
  };
  const Row rows[] = {
      {"answering too slowly",
       {"--fault", "slow:1500"},
       run({}),
       "*IDN? got no answer within 0.3 s",
       0},
      {"never finishing its configuration",
       {"--fault", "hang-config"},
       run({}),
       "*OPC? got no answer within 0.3 s (the meter did not finish configuring)",
       0},
      {"refusing the configuration",
       {},
       run({"--meter-setup", "CONF:VOLT:DC 10", "--meter-setup", "TRIG:SOUR IMM"}),
       "the configuration (CONF:VOLT:DC 10; TRIG:SOUR IMM) was refused: SYST:ERR? says "
       "-113,\"Undefined header\"",
       0},
      {"answering garbage",
       {"--fault", "garbage"},
       run({}),
       "READ? answered \"#ERR reading\", not a number",
       0},
      {"answering with an SCPI error",
       {"--fault", "error"},
       run({}),
       "READ? got no answer within 0.3 s (taking a reading); SYST:ERR? says -230,\"Data "
       "corrupt or stale\"",
       0},
      {"closing mid-run",
       {"--fault", "close:5"},
       run({}),
       "READ? got no answer: the meter closed the connection",
       5},
      {"reporting an overload",
       {},
       run({"--meter-range", "1"}),
       "answered \"+9.900000000E+37\", an overload, the input is beyond the meter's range",
       4},
      {"taking another query",
       {},
       run({"--meter-query", "FETCH:VOLT?"}),
       "FETCH:VOLT? got no answer within 0.3 s",
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bench bench(row.meter);
    const std::string output = Folder("failed");
    const Result result = Ktdac(Characterize(bench, output, row.run));
    EXPECT_EQ(result.status, 6) << result.err;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("meter " + bench.Address() + ": "), std::string::npos) << result.err;
    const std::string csv = output + "/characterization.csv";
    if (row.rows == 0) {
      EXPECT_FALSE(fs::exists(csv))
          << "a run that measured nothing leaves no CSV to refuse a rerun";
      continue;
    }
    EXPECT_EQ(Rows(csv).size(), row.rows);
    EXPECT_NE(result.err.find("--resume continues"), std::string::npos) << result.err;
  }
}

// What a meter sends is never taken for what it is not, and never reaches a terminal, a file
// or the report as it came: identities that are not text or hold escapes, readings that are
// not whole decimal numbers or are overloads, answers that come twice or end in CR LF.
TEST(Characterize, AHostileMeterIsShownSafelyAndItsBadReadingsAreNeverTaken) {
  struct Row {
    const char* name;
    std::vector<std::string> meter;
    int status;
    std::vector<std::string> said;  // on standard error (status 6) or output (status 0)
  };
  const Row rows[] = {
      {"an identity that is not UTF-8",
       {"--idn", "Messger\\xe4te GmbH,DMM6,1,1.0"},
       0,
       {"meter: Messger\\xE4te GmbH,DMM6,1,1.0\n"}},
      {"an identity with terminal escapes, C0 and C1",
       {"--idn", "ACME\\x1b]0;pwned\\x07\\x1b[31mRED\\xc2\\x9b\\x9b\\\\"},
       0,
       {"meter: ACME\\x1B]0;pwned\\x07\\x1B[31mRED\\xC2\\x9B\\x9B\\\\\n"}},
      {"answers in CR LF",
       {"--fault", "crlf"},
       0,
       {"meter: KT Instruments,SIM-DMM6,SIM000001,1.0\n"}},
      {"a reading with a NUL and more",
       {"--fault", "reading:1.25\\x00garbage"},
       6,
       {"READ? answered \"1.25\\x00garbage\", not a number"}},
      {"a hexadecimal reading", {"--fault", "reading:0x1p0"}, 6, {"\"0x1p0\", not a number"}},
      {"a reading of no number", {"--fault", "reading:nan"}, 6, {"\"nan\", not a number"}},
      {"a reading far beyond the range", {"--fault", "reading:9.8E+37"}, 6, {"an overload"}},
      {"a negative overload", {"--fault", "reading:-9.9E37"}, 6, {"an overload"}},
      {"a meter that answers twice",
       {"--fault", "twice"},
       6,
       {"READ? was not sent: the meter had sent what nobody asked for",
        "(measuring code 2048, after code 0)"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bench bench(row.meter);
    const std::string output = Folder("hostile");
    const Result result = Ktdac(
        Characterize(bench, output, {"--codes", "every:2048", "--vref", "2.5", "--settle", "0"}));
    EXPECT_EQ(result.status, row.status) << result.err;
    for (const std::string& words : row.said)
      EXPECT_NE((row.status == 0 ? result.out : result.err).find(words), std::string::npos)
          << result.out << result.err;
    for (const std::string& text : {result.out, result.err, Read(output + "/characterization.csv"),
                                    Read(output + "/report.html")}) {
      EXPECT_EQ(text.find('\x1b'), std::string::npos) << "no escape reaches a terminal";
      EXPECT_EQ(text.find("\xc2\x9b"), std::string::npos) << "nor a C1 control";
      EXPECT_EQ(text.find('\r'), std::string::npos);
    }
    if (row.status == 0) {
      const json summary = Summary(output);  // parses: the identity is valid text
      EXPECT_EQ(summary["meter"].get<std::string>() + "\n",
                row.said.front().substr(std::string("meter: ").size()));
    }
  }
}

// --resume takes only the rows a live run would have written, reads them by the same rules,
// and refuses what holds no row of the run; a run that wrote no row leaves no CSV.
TEST(Characterize, ResumeTakesOnlyRowsALiveRunWouldHaveTaken) {
  Bench bench({});
  const std::vector<std::string> plan{"--codes", "every:16384", "--vref", "2.5", "--settle", "0"};
  const std::string done = Folder("resumable");
  // What a run cut short while writing its summaries left does not stop the next.
  fs::create_directories(done);
  std::ofstream(done + "/summary.txt.new") << "cut short";
  ASSERT_EQ(Ktdac(Characterize(bench, done, plan)).status, 0);
  EXPECT_FALSE(fs::exists(done + "/summary.txt.new"));
  EXPECT_TRUE(fs::exists(done + "/summary.txt"));
  const std::string csv = Read(done + "/characterization.csv");
  const std::size_t firstRow = csv.find("\n0,") + 1;
  const std::string header = csv.substr(0, firstRow);
  const std::string row = csv.substr(firstRow, csv.find('\n', firstRow) + 1 - firstRow);
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string edited = row;
    edited.replace(edited.find(from), from.size(), to);
    return header + edited;
  };
  const std::string mean = row.substr(row.find(',', row.find(',') + 1) + 1);
  struct Case {
    const char* name;
    std::string content;  // empty: a folder in its place
    int status;
    const char* said;
  };
  const Case cases[] = {
      {"an empty file", "\x01", 2, "holds no row of this run"},
      {"a header cut short", header.substr(0, 20), 2, "holds no row of this run"},
      {"a folder", "", 2, "is a folder, not the CSV of a run"},
      {"a reading of nan", with(mean.substr(0, mean.find(',')), "nan"), 2, "row 1 of"},
      {"a reading with more after it", with(mean.substr(0, mean.find(',')), "0.3125xyz"), 2,
       "as measured"},
      {"a reading of text", with(mean.substr(0, mean.find(',')), "GARBAGE"), 2, "as measured"},
      {"a reading beyond the range", with(mean.substr(0, mean.find(',')), "1e300"), 2,
       "as measured"},
      {"readings beyond ten times the 10 V range",
       header + "0,0,150,150,," + row.substr(row.rfind(',') + 1), 2, "as measured"},
      {"a code that is not whole", with("0,", "0.9,"), 2, "as measured"},
      {"a row beyond the last code", csv + csv.substr(csv.rfind('\n', csv.size() - 2) + 1), 2,
       "row 6 of"},
      {"CR LF line ends, as an editor may save them", "crlf", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = Folder("edited");
    fs::create_directories(output);
    const std::string file = output + "/characterization.csv";
    if (c.content.empty()) {
      fs::create_directories(file);
    } else if (c.content == "crlf") {
      std::string text = header + row;
      for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
        text.insert(at, "\r");
      std::ofstream(file, std::ios::binary) << text;
    } else {
      std::ofstream(file, std::ios::binary) << (c.content == "\x01" ? "" : c.content);
    }
    test::Trace trace;
    std::vector<std::string> args = Characterize(bench, output, plan);
    args.push_back("--resume");
    const Result result = Ktdac(args);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    if (c.status != 0) {
      EXPECT_TRUE(trace.Frames().empty()) << "nothing was sent";
    }
  }
  // A board that refuses the first frame leaves no CSV behind to refuse a plain rerun.
  const std::string refused = Folder("refused");
  {
    test::ScopedEnv sendStatus("KT_SIM_SEND_STATUS", "-1");
    const auto run = Ktdac(Characterize(bench, refused, plan));
    EXPECT_EQ(run.status, 5);
    EXPECT_NE(run.err.find("; nothing was measured, and nothing kept"), std::string::npos)
        << run.err;
  }
  EXPECT_FALSE(fs::exists(refused + "/characterization.csv"));
  EXPECT_EQ(Ktdac(Characterize(bench, refused, plan)).status, 0) << "a plain rerun runs";
}

TEST(Characterize, AMeterThatDoesNotSeeTheDacIsToldApartFromADac) {
  struct Row {
    const char* name;
    std::vector<std::string> meter;
    const char* vref;
    int status;
    const char* says;  // on standard error, or (status 0) in summary.json's warning
  };
  const std::string elsewhere = test::WriteTempFile("elsewhere.json", "");
  const Row rows[] = {
      // The meter reads a file the board never writes: 0 V, whatever the code.
      {"not connected",
       {"--dac-output", elsewhere},
       "2.5",
       3,
       "ktdac: no figures: the output does not rise from code 0 (0 V) to code 65535 (0 V); is "
       "the meter connected to the DAC's output? The rows are kept in "},
      // A DAC at 2.5 V measured as if at 10 V: a quarter of the span expected.
      {"a reference four times too high",
       {"--vref", "2.5"},
       "10",
       0,
       "the span measured is 25.0 % of the ideal: is the meter connected to the DAC's output, "
       "and is --vref 10 V right?"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bench bench(row.meter);
    const std::string output = Folder("unconnected");
    const Result result = Ktdac(Characterize(
        bench, output, {"--vref", row.vref, "--codes", "every:8192", "--settle", "0"}));
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_EQ(Rows(output + "/characterization.csv").size(), 9u);
    if (row.status != 0) {
      EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
      EXPECT_FALSE(fs::exists(output + "/summary.json"));
    } else {
      EXPECT_EQ(Summary(output)["warning"], row.says);
      EXPECT_NE(result.out.find(std::string("warning: ") + row.says), std::string::npos);
    }
  }
}

TEST(Characterize, AnUnreachableMeterIsNamedWithTheReason) {
  const std::vector<std::string> run{"--device", "KT300",           "--vref",
                                     "2.5",      "--meter-timeout", "300ms"};
  {
    SCOPED_TRACE("refusing the connection");
    test::Trace trace;
    const std::string port = ClosedPort();
    std::vector<std::string> args{"characterize", "--meter", "127.0.0.1:" + port, "--output",
                                  Folder("refused")};
    args.insert(args.end(), run.begin(), run.end());
    const Result result = Ktdac(args);
    EXPECT_EQ(result.status, 6);
    EXPECT_NE(result.err.find("meter 127.0.0.1:" + port + ": cannot connect to 127.0.0.1 port " +
                              port + ": "),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(trace.Frames().empty());
  }
  {
    // A listener whose queue of connections is full and which never accepts: connection
    // requests go unanswered, as to a host that is not there, without leaving this machine.
    SCOPED_TRACE("never answering the connection");
    asio::io_context io;
    asio::ip::tcp::acceptor full(io);
    full.open(asio::ip::tcp::v4());
    full.bind({asio::ip::make_address("127.0.0.1"), 0});
    full.listen(0);
    const asio::ip::tcp::endpoint where = full.local_endpoint();
    // Asynchronous connections start at once, and are never waited for.
    std::vector<asio::ip::tcp::socket> queued;
    for (int i = 0; i < 3; ++i) {
      queued.emplace_back(io);
      queued.back().async_connect(where, [](std::error_code) {});
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<std::string> args{"characterize", "--meter",
                                  "127.0.0.1:" + std::to_string(where.port()), "--output",
                                  Folder("unanswered")};
    args.insert(args.end(), run.begin(), run.end());
    const Result result = Ktdac(args);
    EXPECT_EQ(result.status, 6);
    // Either the connection is never made, or it is made by the kernel and *IDN? goes
    // unanswered: both within the timeout, both naming the meter.
    EXPECT_TRUE(result.err.find("no connection to 127.0.0.1 port") != std::string::npos ||
                result.err.find("*IDN? got no answer within 0.3 s") != std::string::npos)
        << result.err;
  }
}

TEST(Characterize, BadInputIsAUsageErrorAndNothingIsSentOrOverwritten) {
  Bench bench({});
  const std::string done = Folder("done");
  ASSERT_EQ(
      Ktdac(Characterize(bench, done, {"--codes", "every:4096", "--settle", "0", "--vref", "2.5"}))
          .status,
      0);
  const std::string csv = Read(done + "/characterization.csv");
  const std::string file = test::WriteTempFile("a-file", "");
  Bench otherMeter({"--idn", "KT Test,Simulated meter,2,1.0"});
  struct Row {
    std::vector<std::string> args;
    const char* message;
    int status;
  };
  const std::string fresh = Folder("fresh");
  const Row rows[] = {
      {Characterize(bench, fresh, {"--codes", "10000"}), "is beyond the last code 0xFFFF", 2},
      {Characterize(bench, fresh, {"--device", "KT300", "--codes", "0,4000"}), "0x3FFF", 2},
      {Characterize(bench, fresh, {"--codes", ""}), "--codes names no codes", 2},
      {Characterize(bench, fresh, {"--codes", "every:0"}), "not a step of 1 or more", 2},
      {Characterize(bench, fresh, {"--average", "0"}), "--average must be 1 or more", 2},
      {Characterize(bench, fresh, {"--vref", "-1"}), "not a positive voltage", 2},
      {Characterize(bench, fresh, {"--vref", "1e308"}), "beyond 1000 V", 2},
      {Characterize(bench, fresh, {"--meter-timeout", "0"}), "longer than 0", 2},
      {Characterize(bench, fresh, {"--meter-range", "-5"}), "not a positive voltage", 2},
      {Characterize(bench, fresh, {"--meter-range", "0"}), "not a positive voltage", 2},
      {{"characterize", "--meter", "TCPIP::x::INSTR", "--vref", "2.5", "--output", fresh},
       "a raw socket is TCPIP::HOST::PORT::SOCKET",
       2},
      {Characterize(bench, done, {}), "exists: --resume continues that run", 2},
      {Characterize(bench, fresh, {"--resume"}), "there is no", 2},
      {Characterize(bench, done, {"--resume", "--vref", "2.4"}), "is from another run", 2},
      {Characterize(bench, done, {"--resume", "--codes", "every:2048"}), "is from another run", 2},
      {Characterize(bench, done, {"--resume", "--device", "KT311"}), "is from another run", 2},
      {Characterize(bench, done, {"--resume", "--average", "2"}), "is from another run", 2},
      {Characterize(bench, done, {"--resume", "--codes", "every:4096", "--settle", "1ms"}),
       "with other settings", 2},
      {Characterize(bench, done,
                    {"--resume", "--codes", "every:4096", "--settle", "0", "--meter-nplc", "10"}),
       "with other settings", 2},
      {Characterize(bench, done,
                    {"--resume", "--codes", "every:4096", "--settle", "0", "--meter-range", "100"}),
       "with other settings", 2},
      {Characterize(bench, done,
                    {"--resume", "--codes", "every:4096", "--settle", "0", "--meter-query",
                     "MEAS:VOLT:DC?"}),
       "with other settings", 2},
      {Characterize(bench, fresh, {"--meter-timeout", "1us"}), "shorter than the millisecond", 2},
      {Characterize(bench, fresh, {"--settle", "1000000000s"}), "at most 100000h", 2},
      {Characterize(otherMeter, done, {"--resume", "--codes", "every:4096", "--settle", "0"}),
       "was measured with the meter", 2},
      {Characterize(bench, file + "/sub", {}), "cannot write the folder", 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    test::Trace trace;
    std::vector<std::string> args = row.args;
    if (std::find(args.begin(), args.end(), "--vref") == args.end())
      args.insert(args.end(), {"--vref", "2.5"});
    const Result result = Ktdac(args);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    EXPECT_TRUE(trace.Frames().empty()) << "nothing reaches the board";
    EXPECT_FALSE(fs::exists(fresh)) << "no folder is made for a run that cannot start";
    EXPECT_EQ(Read(done + "/characterization.csv"), csv) << "the earlier run stays as it was";
  }
  // No reference, and a board that cannot tell it: refused before anything, the board too.
  test::Trace trace;
  const Result unreferenced = Ktdac(Characterize(bench, fresh, {}));
  EXPECT_EQ(unreferenced.status, 2);
  EXPECT_NE(unreferenced.err.find("--vref is required: the second-generation board library "),
            std::string::npos)
      << unreferenced.err;
  EXPECT_TRUE(trace.Records().empty()) << "not even a connection";
  EXPECT_FALSE(fs::exists(fresh));
}

TEST(Characterize, ResumeContinuesAFileThatNamesNoMeter) {
  // Files written before the meter was named in them carry on without the check.
  Bench bench({});
  const std::string output = Folder("unnamed");
  std::vector<std::string> args = Characterize(
      bench, output,
      {"--device", "KT300", "--codes", "every:4096", "--vref", "2.5", "--settle", "0"});
  ASSERT_EQ(Ktdac(args).status, 0);
  const std::string csv = output + "/characterization.csv";
  std::string text = Read(csv);
  const auto meter = text.find("# meter: ");
  ASSERT_NE(meter, std::string::npos);
  text.erase(meter, text.find('\n', meter) + 1 - meter);
  const std::vector<std::string> rows = Rows(csv);
  text.erase(text.find(rows[2]));  // two codes measured
  std::ofstream(csv, std::ios::binary) << text;
  args.push_back("--resume");
  const Result resumed = Ktdac(args);
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  const auto readings = [](std::vector<std::string> lines) {
    for (std::string& line : lines) line.erase(line.rfind(','));  // all but the time
    return lines;
  };
  EXPECT_EQ(readings(Rows(csv)), readings(rows));
}

#ifndef _WIN32
// POSIX signals only: a Windows console's Ctrl-C cannot be sent to a program started
// without a console of its own, as the tests start it.
// The output folder holds only the run's own plain files: a user's file or a link in the way
// of a new run is said and left as it was, and nothing is written through a link.
TEST(Characterize, TheOutputFolderIsWrittenWithOwnPlainFilesOnly) {
  Bench bench({});
  const std::vector<std::string> plan{"--codes", "every:16384", "--vref", "2.5", "--settle", "0"};
  const std::string outside = test::WriteTempFile("outside.txt", "the user's\n");
  struct Row {
    const char* name;
    const char* file;
    bool link;  // a link to the outside file, or to nothing; else a file of the user's
    bool dangling;
    const char* said;
  };
  const Row rows[] = {
      {"a user's summary", "summary.txt", false, false, "summary.txt is in the way"},
      {"a user's report", "report.html", false, false, "report.html is in the way"},
      {"a summary that is a link", "summary.txt", true, false, "summary.txt is in the way"},
      {"a plot that is a link", "dnl.svg", true, false, "dnl.svg is in the way"},
      {"a CSV link to nothing", "characterization.csv", true, true, "exists: --resume"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string output = Folder("crowded");
    fs::create_directories(output);
    const fs::path file = fs::path(output) / row.file;
    const fs::path nowhere =
        fs::path(output).parent_path() / ("nowhere-" + file.filename().string());
    if (!row.link) {
      std::ofstream(file) << "mine\n";
    } else {
      fs::create_symlink(row.dangling ? nowhere : fs::path(outside), file);
    }
    test::Trace trace;
    const Result result = Ktdac(Characterize(bench, output, plan));
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find(row.said), std::string::npos) << result.err;
    EXPECT_TRUE(trace.Frames().empty());
    EXPECT_EQ(Read(outside), "the user's\n");
    EXPECT_FALSE(fs::exists(nowhere)) << "nothing made through a link";
    if (!row.link) {
      EXPECT_EQ(Read(file.string()), "mine\n");
    }
  }
  // A run continued replaces its own summaries, never what a link points at.
  const std::string output = Folder("continued");
  ASSERT_EQ(Ktdac(Characterize(bench, output, plan)).status, 0);
  fs::remove(output + "/summary.txt");
  fs::create_symlink(outside, output + "/summary.txt");
  std::vector<std::string> resume = Characterize(bench, output, plan);
  resume.push_back("--resume");
  EXPECT_EQ(Ktdac(resume).status, 0);
  EXPECT_EQ(Read(outside), "the user's\n");
  EXPECT_FALSE(fs::is_symlink(output + "/summary.txt"));
}

// `ktdac characterize ... | head -0`: a reader gone before the first line is a write error
// with its own status and message, never a silent death, and no CSV is left to refuse a rerun.
TEST(Characterize, AStandardOutputWhoseReaderIsGoneIsAWriteErrorAndLeavesNoCsv) {
  Bench bench({});
  const std::string output = Folder("closed");
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  close(pipe[0]);
  std::vector<std::string> args =
      Characterize(bench, output, {"--codes", "every:16384", "--vref", "2.5", "--settle", "0"});
  args.insert(args.begin(), test::BesideProgram("ktdac"));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string err = test::WriteTempFile("closed.err", "");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_TRUNC, 0);
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe[1]);
  EXPECT_EQ(test::Wait(child), 4);
  EXPECT_NE(Read(err).find("ktdac: cannot write standard output: Broken pipe"), std::string::npos)
      << Read(err);
  EXPECT_FALSE(fs::exists(output + "/characterization.csv"));
}

// Each row is in the file as soon as its code is measured: a hard kill loses only the code in
// hand, and --resume continues the run's time where it stopped.
TEST(Characterize, AHardKillLosesOnlyTheCodeInHandAndResumeContinuesItsTime) {
  Bench bench({});
  const std::string output = Folder("killed");
  std::vector<std::string> args = Characterize(
      bench, output,
      {"--device", "KT300", "--codes", "every:2048", "--vref", "2.5", "--settle", "100ms"});
  const test::Child child =
      test::Start("ktdac", args, test::WriteTempFile("out", ""), test::WriteTempFile("err", ""));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (bench.trace.Frames().size() < 4 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // into the settle time
  kill(child, SIGKILL);
  EXPECT_EQ(test::Wait(child), -SIGKILL);
  const std::string csv = output + "/characterization.csv";
  const std::vector<std::string> kept = Rows(csv);
  EXPECT_EQ(kept.size() + 1, bench.trace.Frames().size()) << "every row but the one in hand";
  const auto elapsed = [](const std::string& row) {
    return std::stod(row.substr(row.rfind(',') + 1));
  };
  args.push_back("--resume");
  ASSERT_EQ(Ktdac(args).status, 0);
  const std::vector<std::string> all = Rows(csv);
  ASSERT_GT(all.size(), kept.size());
  EXPECT_GT(elapsed(all[kept.size()]), elapsed(kept.back())) << "the time goes on";
}

TEST(Characterize, ASignalEndsTheRunAtOnceKeepingEveryRowAndResumeFinishesIt) {
  struct Row {
    int signal;
    const char* settle;  // the wait in hand when the signal comes
    std::size_t frames;  // sent before the signal
  };
  const Row rows[] = {{SIGINT, "100ms", 3}, {SIGTERM, "1h", 1}, {SIGHUP, "100ms", 3}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.signal);
    Bench bench({});
    const std::string output = Folder("stopped");
    const std::vector<std::string> plan{"--device", "KT300", "--codes", "every:1024"};
    std::vector<std::string> args = Characterize(bench, output, plan);
    args.insert(args.end(), {"--vref", "2.5", "--settle", row.settle});
    const test::Child child =
        test::Start("ktdac", args, test::WriteTempFile("out", ""), test::WriteTempFile("err", ""));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (bench.trace.Frames().size() < row.frames && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // into the settle time
    const auto sent = std::chrono::steady_clock::now();
    kill(child, row.signal);
    EXPECT_EQ(test::Wait(child), 128 + row.signal) << "the program ends itself";
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(3))
        << "no wait holds the stop back";
    const std::size_t frames = bench.trace.Frames().size();
    const std::string csv = output + "/characterization.csv";
    EXPECT_EQ(Rows(csv).size() + 1, frames) << "a row for every code but the one in hand";

    // --resume continues with the settings the run began with (a settle of an hour is not
    // waited out here).
    if (std::string(row.settle) == "1h") continue;
    std::vector<std::string> resume = Characterize(bench, output, plan);
    resume.insert(resume.end(), {"--vref", "2.5", "--settle", row.settle, "--resume"});
    const Result finished = Ktdac(resume);
    ASSERT_EQ(finished.status, 0) << finished.err;
    const std::vector<std::string> written = Rows(csv);
    ASSERT_EQ(written.size(), 17u);
    for (std::size_t i = 0; i < written.size(); ++i)
      EXPECT_EQ(written[i].substr(0, written[i].find(',')),
                std::to_string(std::min<int>(static_cast<int>(i) * 1024, 0x3FFF)));
    EXPECT_EQ(Summary(output)["codes"], 17);
  }
}

TEST(Characterize, ASignalWhileTheMeterIsReachedLeavesNoCsv) {
  Bench bench({"--fault", "slow:3000"});
  const std::string output = Folder("unreached");
  const std::vector<std::string> args =
      Characterize(bench, output, {"--device", "KT300", "--codes", "every:4096", "--vref", "2.5"});
  const std::string err = test::WriteTempFile("err", "");
  const test::Child child = test::Start("ktdac", args, test::WriteTempFile("out", ""), err);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // *IDN? is awaited
  kill(child, SIGINT);
  EXPECT_EQ(test::Wait(child), 128 + SIGINT);
  EXPECT_NE(Read(err).find("nothing kept"), std::string::npos) << Read(err);
  EXPECT_FALSE(fs::exists(output + "/characterization.csv")) << "a rerun is not refused";
  EXPECT_TRUE(bench.trace.Frames().empty());
}
#endif

}  // namespace
}  // namespace kt
