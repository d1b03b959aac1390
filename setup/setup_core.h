#pragma once
// Portable part of the setup hook: reading the printer name out of the class
// installer's command line and finding the default device mode's paper in
// the printer's own paper list. Works on raw bytes laid out as the spooler's
// ANSI records (little-endian), so it builds and is tested without Windows.
#include <cstddef>
#include <cstdint>

namespace qx::setup {

// DEVMODEA byte offsets and field flags that the hook reads or writes.
namespace dma {
constexpr size_t kSize = 36;         // WORD dmSize
constexpr size_t kFields = 40;       // DWORD
constexpr size_t kPaperSize = 46;    // short
constexpr size_t kPaperLength = 48;  // short, tenths of a millimetre
constexpr size_t kPaperWidth = 50;   // short, tenths of a millimetre
constexpr size_t kFormName = 70;     // BYTE[32]
constexpr size_t kFormNameBytes = 32;
// Every field above lies in the first kMinBytes bytes of the record.
constexpr size_t kMinBytes = kFormName + kFormNameBytes;
}  // namespace dma

constexpr uint32_t kDmPaperSize = 0x2;
constexpr uint32_t kDmPaperLength = 0x4;
constexpr uint32_t kDmPaperWidth = 0x8;
constexpr uint32_t kDmFormName = 0x10000;

// Capability answers: DC_PAPERS entries are 16-bit paper numbers,
// DC_PAPERNAMES entries 64 bytes, DC_PAPERSIZE entries two 32-bit values
// (x width, y length).
constexpr size_t kPaperNumberBytes = 2;
constexpr size_t kPaperNameBytes = 64;
constexpr size_t kPaperSizeBytes = 8;

// Copies the command line without its first and last character (the
// quotation marks around the printer name) into `name`, which must hold
// cmdLen + 1 bytes, and terminates it. Reads only cmdLine[0..cmdLen); a
// command line shorter than two characters gives an empty name.
void CopyQuotedName(const char* cmdLine, size_t cmdLen, char* name);

// The printer name within `name`: for "\\server\printer" the part after the
// backslash that follows the server, otherwise the whole text (also when
// nothing follows that backslash). Returns a pointer into `name`.
const char* PrinterNamePart(const char* name);

// A view of a device mode: `bytes` holds at least `size` bytes of it.
struct DevModeView {
    uint8_t* bytes;
    size_t size;
};

// The printer's paper list as the three capability arrays, each `count`
// entries long.
struct PaperList {
    const uint8_t* numbers;
    const uint8_t* names;
    const uint8_t* sizes;
    size_t count;
};

// True when dmPaperLength equals the low 16 bits of entry `index`'s y value
// and dmPaperWidth the low 16 bits of its x value.
bool MatchPaperBySize(const uint8_t* devMode, const uint8_t* paperSizes, size_t index);

// True when the 32 bytes of dmFormName equal the first 32 bytes of the
// 64-byte name entry `index`, every byte (also those after the terminator).
bool MatchPaperByFormName(const uint8_t* devMode, const uint8_t* paperNames, size_t index);

constexpr size_t kNoPaper = static_cast<size_t>(-1);

// Lowest index whose paper the device mode describes: by size when either
// size flag is set, else by form name when DM_FORMNAME is set, else none.
// A device mode too short to hold the fields gives no match.
size_t FindPaper(DevModeView devMode, const PaperList& papers);

// Names paper `index` by number: sets dmPaperSize and DM_PAPERSIZE, clears
// DM_PAPERLENGTH, DM_PAPERWIDTH and DM_FORMNAME; the length, width and form
// name bytes themselves stay.
void SelectPaper(DevModeView devMode, const PaperList& papers, size_t index);

}  // namespace qx::setup
