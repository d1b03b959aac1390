#include "setup/setup_core.h"

#include <cstring>

namespace qx::setup {
namespace {

uint16_t ReadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void WriteU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void WriteU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void CopyQuotedName(const char* cmdLine, size_t cmdLen, char* name) {
    size_t n = 0;
    if (cmdLen >= 2) {
        n = cmdLen - 2;
        std::memcpy(name, cmdLine + 1, n);
    }
    name[n] = '\0';
}

const char* PrinterNamePart(const char* name) {
    if (name[0] != '\\' || name[1] != '\\') return name;
    const char* sep = std::strchr(name + 2, '\\');
    if (sep != nullptr && sep[1] != '\0') return sep + 1;
    return name;
}

bool MatchPaperBySize(const uint8_t* devMode, const uint8_t* paperSizes, size_t index) {
    const uint8_t* entry = paperSizes + index * kPaperSizeBytes;
    // Entry: x (width) then y (length), 32 bits each; only the low 16 count.
    return ReadU16(devMode + dma::kPaperLength) == ReadU16(entry + 4) &&
           ReadU16(devMode + dma::kPaperWidth) == ReadU16(entry);
}

bool MatchPaperByFormName(const uint8_t* devMode, const uint8_t* paperNames, size_t index) {
    return std::memcmp(devMode + dma::kFormName, paperNames + index * kPaperNameBytes,
                       dma::kFormNameBytes) == 0;
}

size_t FindPaper(DevModeView devMode, const PaperList& papers) {
    if (devMode.bytes == nullptr || devMode.size < dma::kMinBytes) return kNoPaper;
    const uint32_t fields = ReadU32(devMode.bytes + dma::kFields);
    const bool bySize = (fields & (kDmPaperLength | kDmPaperWidth)) != 0;
    const bool byName = !bySize && (fields & kDmFormName) != 0;
    if (!bySize && !byName) return kNoPaper;
    for (size_t i = 0; i < papers.count; ++i) {
        const bool match = bySize ? MatchPaperBySize(devMode.bytes, papers.sizes, i)
                                  : MatchPaperByFormName(devMode.bytes, papers.names, i);
        if (match) return i;
    }
    return kNoPaper;
}

void SelectPaper(DevModeView devMode, const PaperList& papers, size_t index) {
    if (devMode.bytes == nullptr || devMode.size < dma::kMinBytes || index >= papers.count) return;
    uint32_t fields = ReadU32(devMode.bytes + dma::kFields);
    fields &= ~(kDmPaperLength | kDmPaperWidth | kDmFormName);
    fields |= kDmPaperSize;
    WriteU32(devMode.bytes + dma::kFields, fields);
    WriteU16(devMode.bytes + dma::kPaperSize,
             ReadU16(papers.numbers + index * kPaperNumberBytes));
}

}  // namespace qx::setup
