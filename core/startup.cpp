// SPDX-License-Identifier: MIT
#include "core/startup.h"

namespace kt {

void SetStartDefaults(AppState& app) {
  app.EntryFormat = kHexFormat;
  app.FrameBits = 24;
  app.DataBits = 16;
}

}  // namespace kt
