// Reporting and patching the seven fields of an accepted sequence header.
#pragma once

#include <cstddef>

#include "scan/scan_window.h"
#include "scan/sequence_header.h"

namespace tessarwick {

// Counts the header, writes its found line and seven field lines, and patches in the
// window every requested field that differs from the file.
void processSequenceHeader(ScanWindow& window, std::size_t headerOffset,
                           const SequenceHeaderFields& fields, ScanRun& run, HeaderPatchState& state);

}  // namespace tessarwick
