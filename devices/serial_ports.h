// The card's serial ports: release of their COM numbers, removal, renumbering.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// For every serial port of the card, present or not: releases its COM number in the COM port
// database and deletes the device node with its keys. Returns 0.
LONG ReleaseAndRemoveSerialPorts(WindowsApi& api, const WCHAR* hardwareId);

// The same release, without deleting anything. Returns 0.
LONG ReleaseSerialPortNumbers(WindowsApi& api, const WCHAR* hardwareId);

// Hands the COM numbers the present ports hold out again in port order.
void RenumberSerialPorts(WindowsApi& api, const WCHAR* hardwareId, const WCHAR* namePrefix);

}  // namespace orv
