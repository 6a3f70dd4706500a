#pragma once
// Opening the floppy containers kept track by track (NFD r1, IMD, FDD,
// DCP/DCU, HFE) as the volume's device.

#include <cstdint>

#include "device/floppyimage.h"

// The device over `file` (`size` bytes) when it is one of those
// containers with at least one sector in its logical layout; it then owns
// `file`. Otherwise nullptr, and `file` stays the caller's.
DeviceIO_FloppyImage* OpenFloppyImage(DeviceIOIF* file, uint64_t size);
