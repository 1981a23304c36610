// SPDX-License-Identifier: BSD-2-Clause
// check_bri, the monitoring plugin: one run reads every selected line of the adapter, prints the
// plugin output and, when asked, writes the Prometheus metrics.
#pragma once

namespace check_bri {

// The whole program; returns the exit status (0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN; 1 also
// when standard output could not be written).
int CheckBriMain(int argc, char** argv);

}  // namespace check_bri
