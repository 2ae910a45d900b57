#pragma once
// The steps of the search that need no window: where candidate ports come from, and how a scan
// renews the link's list of them. The search window and the command-line download both run
// them, so both find the device the same way.

#include "PortCandidates.h"

#include <memory>

class modMain;

// The platform's own candidates: the FTDI driver's records on Windows (read through the link's
// settings store, made here when there is none yet), FTDI converters watched through udev
// elsewhere.
std::unique_ptr<PortSource> PlatformPortSource(modMain& link);

// Rebuilds the link's PortList from the source. A scan that finds nothing keeps the earlier
// list only where names stay with their converter (COM numbers).
void ScanPorts(modMain& link, PortSource& source);
