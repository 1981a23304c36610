// SPDX-License-Identifier: BSD-2-Clause
// The far end of the device transport inside a fuzz program: a listening socket in a temporary
// device folder (BRI_DEVICE_DIR is pointed at it), whose connections the fuzz program answers
// itself. A reply is written into the connection before the tool sends the request it answers,
// so no second thread is needed.
#pragma once

#include <cstdint>

#include "base/bytes.h"

// Sets up the folder and the listening socket once; later calls do nothing.
void SetUpCannedDevice();

// Accepts the connection that the last open made (the open has completed by then).
int AcceptCannedConnection();

// Opens the driver as the tools do (OpenDriver, which sets hf) and returns the far end of its
// connection. Once per process.
int OpenCannedDriver();

// Writes raw bytes into the connection, as replies for requests still to come.
void WriteCanned(int fd, ByteSpan bytes);

// Writes one successful reply: ok 1, returned = the whole command block, and these bytes of it.
void QueueCannedBlock(int fd, ByteSpan block);

// Reads and drops whatever the tool has sent so far, so that requests never pile up.
void DrainCanned(int fd);
