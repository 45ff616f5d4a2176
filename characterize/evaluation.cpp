// SPDX-License-Identifier: MIT
#include "characterize/evaluation.h"

#include <fmt/format.h>

#include <cmath>
#include <nlohmann/json.hpp>

namespace kt::characterize {

namespace {

using json = nlohmann::ordered_json;

// @brief One row of the summary: a figure in volts, LSB and % of full scale, and its code.
struct Row {
  std::string Name;
  double Volts, Lsb, Percent;
  std::optional<std::int32_t> Code;
};

// An extreme of a per-code figure, given in LSBs of `step`, in all three units.
Row Extreme(const std::string& name, double lsb, std::int32_t code, double step, double vref) {
  return {name, lsb * step, lsb, 100.0 * lsb * step / vref, code};
}

std::vector<Row> Rows(const dac::StaticFigures& f) {
  const double vref = f.Vref;
  return {
      {"Offset error (code 0)", f.Offset.Volts, f.Offset.Lsb, f.Offset.Percent, 0},
      {"Gain error (end points)", f.Gain.Volts, f.Gain.Lsb, f.Gain.Percent, std::nullopt},
      {"Full-scale error", f.FullScale.Volts, f.FullScale.Lsb, f.FullScale.Percent,
       (1 << f.DataBits) - 1},
      Extreme("INL, end point, max", f.EndPointInl.Max, f.EndPointInl.MaxCode, f.EndPoint.Step,
              vref),
      Extreme("INL, end point, min", f.EndPointInl.Min, f.EndPointInl.MinCode, f.EndPoint.Step,
              vref),
      Extreme("INL, best fit, max", f.BestFitInl.Max, f.BestFitInl.MaxCode, f.BestFit.Step, vref),
      Extreme("INL, best fit, min", f.BestFitInl.Min, f.BestFitInl.MinCode, f.BestFit.Step, vref),
      Extreme("DNL, max", f.Dnl.Max, f.Dnl.MaxCode, f.EndPoint.Step, vref),
      Extreme("DNL, min", f.Dnl.Min, f.Dnl.MinCode, f.EndPoint.Step, vref),
  };
}

std::string Monotonicity(const dac::StaticFigures& f) {
  if (f.Monotonic) return "monotonic";
  return fmt::format("not monotonic: the output falls first at code {} (0x{:X})", *f.FirstDecrease,
                     *f.FirstDecrease);
}

// A span this far from the ideal is not a DAC's gain error but a wrong set-up.
std::string Doubt(const dac::StaticFigures& f) {
  if (std::fabs(f.GainPercent) <= 50) return "";
  return fmt::format(
      "the span measured is {:.1f} % of the ideal: is the meter connected to the DAC's "
      "output, and is --vref {} V right?",
      100 + f.GainPercent, f.Vref);
}

json Units(double volts, double lsb, double percent) {
  return {{"v", volts}, {"lsb", lsb}, {"percent_fs", percent}};
}

json Extremes(const dac::Extremes& e, double step, double vref) {
  return {{"max", Units(e.Max * step, e.Max, 100.0 * e.Max * step / vref)},
          {"max_code", e.MaxCode},
          {"min", Units(e.Min * step, e.Min, 100.0 * e.Min * step / vref)},
          {"min_code", e.MinCode}};
}

const char* kStyle =
    R"(body{font-family:Helvetica,Arial,sans-serif;margin:2em auto;max-width:920px;color:#222}
h1{font-size:1.5em;margin-bottom:.2em}p.run{color:#555;margin-top:0}
table{border-collapse:collapse;margin:1em 0}th,td{padding:.3em .8em;border-bottom:1px solid #ddd}
th{text-align:left;background:#f3f3f3}td.n{text-align:right;font-variant-numeric:tabular-nums}
.ok{color:#1a7f37;font-weight:bold}.bad{color:#c62828;font-weight:bold}
figure{margin:1.5em 0}figcaption{color:#555;font-size:.9em})";

}  // namespace

std::string SummaryText(const RunInfo& run, const dac::StaticFigures& figures) {
  std::string text = fmt::format(
      "{} ({} bits) at vref {} V: {} codes, {} reading{} each; 1 LSB = {:.6g} V\n"
      "meter: {}\n\n{:<26}{:>14}{:>14}{:>12}  {}\n",
      run.Device, run.DataBits, run.Vref, run.Codes, run.Average, run.Average == 1 ? "" : "s",
      figures.IdealLsb, run.Meter, "", "V", "LSB", "% FS", "at code");
  for (const Row& row : Rows(figures))
    text += fmt::format("{:<26}{:>+14.6e}{:>+14.4f}{:>+12.5f}  {}\n", row.Name, row.Volts, row.Lsb,
                        row.Percent, row.Code ? fmt::format("0x{:X}", *row.Code) : "");
  text += fmt::format("{:<26}{:>+14.4f} %\n", "Gain error (of the span)", figures.GainPercent);
  text += fmt::format("{:<26}{}\n", "Transfer function", Monotonicity(figures));
  if (const std::string doubt = Doubt(figures); !doubt.empty())
    text += "\nwarning: " + doubt + "\n";
  return text;
}

std::string SummaryJson(const RunInfo& run, const dac::StaticFigures& f) {
  const json summary{
      {"device", run.Device},
      {"data_bits", run.DataBits},
      {"vref_v", run.Vref},
      {"codes", run.Codes},
      {"plan", run.Plan},
      {"average", run.Average},
      {"meter", run.Meter},
      {"ideal_lsb_v", f.IdealLsb},
      {"offset_error", Units(f.Offset.Volts, f.Offset.Lsb, f.Offset.Percent)},
      {"gain_error", Units(f.Gain.Volts, f.Gain.Lsb, f.Gain.Percent)},
      {"gain_error_percent", f.GainPercent},
      {"full_scale_error", Units(f.FullScale.Volts, f.FullScale.Lsb, f.FullScale.Percent)},
      {"end_point_line", {{"offset_v", f.EndPoint.Offset}, {"step_v", f.EndPoint.Step}}},
      {"best_fit_line", {{"offset_v", f.BestFit.Offset}, {"step_v", f.BestFit.Step}}},
      {"inl_end_point", Extremes(f.EndPointInl, f.EndPoint.Step, f.Vref)},
      {"inl_best_fit", Extremes(f.BestFitInl, f.BestFit.Step, f.Vref)},
      {"dnl", Extremes(f.Dnl, f.EndPoint.Step, f.Vref)},
      {"monotonic", f.Monotonic},
      {"first_decrease_code", f.FirstDecrease ? json(*f.FirstDecrease) : json(nullptr)},
      {"warning", Doubt(f).empty() ? json(nullptr) : json(Doubt(f))},
  };
  return summary.dump(2) + "\n";
}

std::vector<Plot> Plots(const dac::StaticFigures& figures,
                        const std::vector<dac::MeasuredCode>& points) {
  // One column a pixel of the plots' width, or more: nothing finer can be seen.
  const double last = (1 << figures.DataBits) - 1;
  const std::pair<double, double> codes{0.0, last};
  Plot error{
      "error", "Transfer function error (output minus ideal)", "code", "error (LSB)", {}, {0},
      codes};
  Plot inl{"inl", "Integral nonlinearity", "code", "INL (LSB)", {}, {0}, codes};
  Plot dnl{"dnl", "Differential nonlinearity", "code", "DNL (LSB)", {}, {0, -1}, codes};
  std::vector<Envelope> lines(4, Envelope(0, last, 1024));
  for (std::size_t i = 0; i < points.size(); ++i) {
    const dac::CodeFigures code = dac::AtCode(figures, points, i);
    const double x = code.Code;
    lines[0].Add(x, code.ErrorLsb);
    lines[1].Add(x, code.EndPointInl);
    lines[2].Add(x, code.BestFitInl);
    if (i > 0) lines[3].Add(x, code.Dnl);
  }
  error.Lines.push_back({"error", "#1f5fa8", lines[0].Points()});
  inl.Lines.push_back({"end point", "#1f5fa8", lines[1].Points()});
  inl.Lines.push_back({"best fit", "#d9731a", lines[2].Points()});
  dnl.Lines.push_back({"DNL", "#1f5fa8", lines[3].Points()});
  return {error, inl, dnl};
}

std::string ReportHtml(const RunInfo& run, const dac::StaticFigures& figures,
                       const std::vector<Plot>& plots) {
  std::string html = fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<title>{0} characterization</title><style>{1}</style></head><body>\n"
      "<h1>{0} static accuracy</h1>\n<p class=\"run\">{2} bits, reference {3} V (1 LSB = {4:.6g} "
      "V); "
      "{5} codes ({6}), {7} reading{8} a code; meter {9}</p>\n",
      Escaped(run.Device), kStyle, run.DataBits, run.Vref, figures.IdealLsb, run.Codes,
      Escaped(run.Plan), run.Average, run.Average == 1 ? "" : "s", Escaped(run.Meter));
  html += fmt::format("<p>Transfer function: <span class=\"{}\">{}</span></p>\n",
                      figures.Monotonic ? "ok" : "bad", Escaped(Monotonicity(figures)));
  if (const std::string doubt = Doubt(figures); !doubt.empty())
    html += "<p class=\"bad\">Warning: " + Escaped(doubt) + "</p>\n";
  html +=
      "<table><tr><th>Figure</th><th>V</th><th>LSB</th><th>% of full scale</th>"
      "<th>at code</th></tr>\n";
  for (const Row& row : Rows(figures))
    html += fmt::format(
        "<tr><td>{}</td><td class=\"n\">{:+.6e}</td><td class=\"n\">{:+.4f}</td>"
        "<td class=\"n\">{:+.5f}</td><td class=\"n\">{}</td></tr>\n",
        row.Name, row.Volts, row.Lsb, row.Percent,
        row.Code ? fmt::format("0x{:X} ({})", *row.Code, *row.Code) : "");
  html += fmt::format(
      "<tr><td>Gain error, of the span</td><td></td><td></td><td class=\"n\">{:+.5f}</td>"
      "<td></td></tr>\n</table>\n",
      figures.GainPercent);
  for (const Plot& plot : plots) html += "<figure>\n" + Svg(plot) + "</figure>\n";
  return html +
         "<p class=\"run\">Offset, gain and full-scale error from the outputs at the end codes; "
         "INL against the end-point line and the least-squares line; DNL of each measured step "
         "against the end-point step. Written by ktdac characterize.</p>\n</body></html>\n";
}

}  // namespace kt::characterize
