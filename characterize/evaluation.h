// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "characterize/plot.h"
#include "dac/linearity.h"

// What a characterization reports: its figures as text for people, as JSON for scripts, the
// plots, and a one-page HTML report that holds the plots inline and opens offline.
namespace kt::characterize {

/// @brief What was measured, and with what.
struct RunInfo {
  std::string Device;
  int DataBits;
  double Vref;
  std::string Plan;  ///< the codes, in the plan's canonical form
  std::size_t Codes;
  int Average;
  std::string Meter;  ///< the meter's *IDN? answer
};

std::string SummaryText(const RunInfo& run, const dac::StaticFigures& figures);
std::string SummaryJson(const RunInfo& run, const dac::StaticFigures& figures);

/// The plots: the transfer function's error, INL by both methods, and DNL, against code.
std::vector<Plot> Plots(const dac::StaticFigures& figures,
                        const std::vector<dac::MeasuredCode>& points);

/// The report: the run, the figures and the plots.
std::string ReportHtml(const RunInfo& run, const dac::StaticFigures& figures,
                       const std::vector<Plot>& plots);

}  // namespace kt::characterize
