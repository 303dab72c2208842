// The echo of the requested values into the report, their limits, and the lowering of
// sizes and bit rate to what the header fields can hold.
#pragma once

#include "report/report_sink.h"
#include "run/patch_request.h"

namespace tessarwick {

// Writes a "* Parameter given: " line for every given value in a fixed order (and one
// for /all); answers true when any value exceeds its limit (illegalParameter).
bool echoAndValidate(const PatchRequest& request, ReportSink& report);

// Lowers the sizes to multiples of 8 pixels and the bit rate to a multiple of 400 bit/s.
void normaliseRequest(PatchRequest& request);

}  // namespace tessarwick
