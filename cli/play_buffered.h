// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <optional>

#include "cli/play.h"

namespace kt::cli {

/// Plays through the board's own output buffer, when it has one and the play does not time
/// each sample (--strict, --log, --no-buffer): the buffer repeats one cycle when the driver
/// can and the play runs until stopped, else the samples are streamed into it. Returns the
/// exit status, or none when the buffer could not be opened (having said why on stderr), so
/// that the samples go out one by one instead.
std::optional<int> PlayBuffered(Session& session, const Playing& playing,
                                const wave::Source& source, std::FILE* out);

}  // namespace kt::cli
