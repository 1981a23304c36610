// SPDX-License-Identifier: BSD-2-Clause
// Puts the trace tool's switches back to their start values around a test.
#pragma once

#include <gtest/gtest.h>

#include "trace/switches.h"

class SwitchTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    for (auto* flag : {&TraceAll, &ShowUsageFlag, &EndGame, &PrintUpdate, &PrintStatus, &ShowRaw, &ShowL2, &ShowL3}) {
      flag->store(0);
    }
  }
};
