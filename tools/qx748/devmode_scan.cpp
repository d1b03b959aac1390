#include "tools/qx748/devmode_scan.h"

#include <optional>

#include "uiplugin/settings/private_devmode.h"

namespace qx::cli {

DumpScanResult ScanDevModeDump(const unsigned char *data, size_t size, DumpScan &scan) {
    scan = DumpScan{};
    if (size < kPrivateDevModeSize) return DumpScanResult::kTooShort;
    scan.bare = size == kPrivateDevModeSize;
    if (scan.bare) return DumpScanResult::kFound;
    const std::optional<size_t> found = FindPrivateDevMode(data, size);
    if (!found) return DumpScanResult::kNoBlock;
    scan.offset = *found;
    for (auto next = FindPrivateDevMode(data, size, scan.offset + 1); next;
         next = FindPrivateDevMode(data, size, *next + 1))
        scan.others.push_back(*next);
    return DumpScanResult::kFound;
}

}  // namespace qx::cli
