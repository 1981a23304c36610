// SPDX-License-Identifier: BSD-2-Clause
// lapmon: D-channel trace of the adapter's lines.
#include "common/wildcard.h"
#include "platform/platform.h"
#include "trace/lapmon.h"

int main(int argc, char** argv) {
  PlatInitStdHandles();
  ExpandWildcards(&argc, &argv);
  return LapmonMain(argc, argv);
}
