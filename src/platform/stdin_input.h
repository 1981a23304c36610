// SPDX-License-Identifier: BSD-2-Clause
// Standard input shared by the menu answers and the keys: one stream, read in order.
#pragma once

// Supplied by each system's backend: reads up to max bytes from standard input as they come
// (a console in key mode gives the keys typed). The count, 0 at the end of input, -1 on an error.
int ReadStandardInput(char* buffer, int max);
