// SPDX-License-Identifier: BSD-2-Clause
// bricap: the adapter's D-channel frames into pcapng files, and live into Wireshark (extcap).
#include "bricap/bricap.h"

int main(int argc, char** argv) { return bricap::BricapMain(argc, argv); }
