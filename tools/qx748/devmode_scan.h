#pragma once
// Where `qx748 devmode show` finds the private block in a file: the file
// itself when it is exactly one block, else the first header (dwSize 576,
// our signature) in a larger dump, with the offsets of any later headers.
#include <cstddef>
#include <vector>

namespace qx::cli {

enum class DumpScanResult {
    kFound,
    kTooShort,  // fewer than 576 bytes
    kNoBlock,   // a larger dump without a block header
};

struct DumpScan {
    bool bare = false;          // the file is exactly one block
    size_t offset = 0;          // of the block shown
    std::vector<size_t> others; // later block headers, ascending
};

DumpScanResult ScanDevModeDump(const unsigned char *data, size_t size, DumpScan &scan);

}  // namespace qx::cli
