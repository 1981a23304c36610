// SPDX-License-Identifier: BSD-2-Clause
// check_bri: the adapter's lines for Nagios, Icinga and other monitoring engines, and for
// Prometheus' textfile collectors.
#include "check_bri/check_bri.h"

int main(int argc, char** argv) { return check_bri::CheckBriMain(argc, argv); }
