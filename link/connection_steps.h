// SPDX-License-Identifier: MIT
#pragma once

#include "link/board_link.h"

namespace kt::link {

/// The record the connection of either generation writes its steps' statuses into.
ConnectionSteps& RecordedConnectionSteps();

}  // namespace kt::link
