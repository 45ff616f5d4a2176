// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>

#include "cli/options.h"
#include "cli/session.h"

namespace kt::cli {

/// Measures the DAC's transfer function with a bench meter, code by code as the plan says:
/// sends each code as the window's update does (normal operation), waits the settle time,
/// takes the readings and writes the row at once. Then prints the figures on `out` and
/// writes them, the plots and the report beside the CSV. Returns an exit status: 1 when the
/// board cannot be reached, 5 for a refused frame, 6 for a meter failure, 128 + the signal
/// when stopped; every row measured stays in the CSV, and --resume continues from it.
int Characterize(Session& session, const Characterizing& command, std::FILE* out);

}  // namespace kt::cli
