// Names and records from the spooler: the printer name of the initialise
// event, the setup hook's command line, and its paper matching on a device
// mode and paper list of any size; and the picture path stored in a device
// mode's private record, as the preview decides whether to open it.
//
// Input: one byte choosing the part, then that part's bytes.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "setup/setup_core.h"
#include "uiplugin/correction/picture/picture_path.h"
#include "uiplugin/frame/printer_name.h"

namespace {

using qx::fuzz::Exact;
namespace setup = qx::setup;

// The initialise event's name: UTF-16 units up to the first NUL.
void EventName(const uint8_t *data, size_t size) {
    std::u16string name;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const char16_t u = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (u == 0) break;
        name.push_back(u);
    }
    // Exactly the terminated name, so ASan sees any read beyond it.
    std::unique_ptr<char16_t[]> held(new char16_t[name.size() + 1]);
    std::memcpy(held.get(), name.data(), name.size() * sizeof(char16_t));
    held[name.size()] = 0;
    std::unique_ptr<char16_t[]> out(new char16_t[qx::kLocalPrinterNameUnits]);
    for (size_t i = 0; i < qx::kLocalPrinterNameUnits; ++i) out[i] = u'#';

    const bool server = name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\';
    QX_FUZZ_CHECK(qx::LocalPrinterName(held.get(), out.get()) == server);
    if (!server) {
        for (size_t i = 0; i < qx::kLocalPrinterNameUnits; ++i) QX_FUZZ_CHECK(out[i] == u'#');
        return;
    }
    // The part after the server's backslash (or the whole name), up to a
    // comma, at most 31 units, NUL-filled to the end.
    const size_t sep = name.find(u'\\', 2);
    const std::u16string part = sep == std::u16string::npos ? name : name.substr(sep + 1);
    std::u16string expected = part.substr(0, part.find(u','));
    if (expected.size() > qx::kLocalPrinterNameUnits - 1) expected.resize(qx::kLocalPrinterNameUnits - 1);
    QX_FUZZ_CHECK(std::u16string(out.get()) == expected);
    for (size_t i = expected.size(); i < qx::kLocalPrinterNameUnits; ++i) QX_FUZZ_CHECK(out[i] == 0);
}

// VendorSetup's command line: an ANSI string up to its NUL.
void CommandLine(const uint8_t *data, size_t size) {
    size_t len = 0;
    while (len < size && data[len] != 0) ++len;
    auto cmd = Exact(data, len, len + 1);
    cmd[len] = 0;
    auto name = Exact(nullptr, 0, len + 1);
    std::memset(name.get(), '#', len + 1);
    setup::CopyQuotedName(reinterpret_cast<const char *>(cmd.get()), len, reinterpret_cast<char *>(name.get()));
    const std::string got(reinterpret_cast<const char *>(name.get()));
    const std::string whole(reinterpret_cast<const char *>(cmd.get()), len);
    QX_FUZZ_CHECK(got == (len >= 2 ? whole.substr(1, len - 2) : std::string()));

    const char *n = reinterpret_cast<const char *>(name.get());
    const char *part = setup::PrinterNamePart(n);
    QX_FUZZ_CHECK(part >= n && part <= n + got.size());
    if (part != n) {
        QX_FUZZ_CHECK(got.size() >= 2 && got[0] == '\\' && got[1] == '\\' && part[-1] == '\\' && *part != 0);
        QX_FUZZ_CHECK(static_cast<size_t>(part - n) == got.find('\\', 2) + 1);
    }
}

uint32_t Fields(const uint8_t *dm) {
    const uint8_t *p = dm + setup::dma::kFields;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Paper matching: a device mode of any length and a list of `count`
// entries, each array exactly as long as the spooler delivered.
void Paper(const uint8_t *data, size_t size) {
    qx::fuzz::Reader r(data, size);
    const size_t dmSize = r.U16() % 256;
    const size_t count = r.Byte() % 16;
    const uint8_t *p;
    size_t got = r.Take(dmSize, &p);
    auto dm = Exact(p, got, dmSize);
    got = r.Take(count * setup::kPaperNumberBytes, &p);
    auto numbers = Exact(p, got, count * setup::kPaperNumberBytes);
    got = r.Take(count * setup::kPaperNameBytes, &p);
    auto names = Exact(p, got, count * setup::kPaperNameBytes);
    got = r.Take(count * setup::kPaperSizeBytes, &p);
    auto sizes = Exact(p, got, count * setup::kPaperSizeBytes);

    const setup::PaperList papers{numbers.get(), names.get(), sizes.get(), count};
    const setup::DevModeView view{dm.get(), dmSize};
    const size_t found = setup::FindPaper(view, papers);
    if (dmSize < setup::dma::kMinBytes) {
        QX_FUZZ_CHECK(found == setup::kNoPaper);
    } else if (found != setup::kNoPaper) {
        QX_FUZZ_CHECK(found < count);
    }
    if (dmSize >= setup::dma::kMinBytes) {
        // By size when either size flag is set, else by form name when its
        // flag is, else never; the lowest matching entry.
        const uint32_t flags = Fields(dm.get());
        const bool bySize = (flags & (setup::kDmPaperLength | setup::kDmPaperWidth)) != 0;
        const bool byName = !bySize && (flags & setup::kDmFormName) != 0;
        size_t expected = setup::kNoPaper;
        for (size_t i = 0; i < count && expected == setup::kNoPaper && (bySize || byName); ++i)
            if (bySize ? setup::MatchPaperBySize(dm.get(), sizes.get(), i)
                       : setup::MatchPaperByFormName(dm.get(), names.get(), i))
                expected = i;
        QX_FUZZ_CHECK(found == expected);
    }
    auto before = Exact(dm.get(), dmSize, dmSize);
    const size_t index = found != setup::kNoPaper ? found : r.Byte();
    setup::SelectPaper(view, papers, index);
    if (dmSize < setup::dma::kMinBytes || index >= count) {
        QX_FUZZ_CHECK(dmSize == 0 || std::memcmp(before.get(), dm.get(), dmSize) == 0);
        return;
    }
    for (size_t i = 0; i < dmSize; ++i) {
        if (i >= setup::dma::kFields && i < setup::dma::kFields + 4) continue;
        if (i >= setup::dma::kPaperSize && i < setup::dma::kPaperSize + 2) continue;
        QX_FUZZ_CHECK(dm[i] == before[i]);
    }
    QX_FUZZ_CHECK(std::memcmp(dm.get() + setup::dma::kPaperSize, numbers.get() + 2 * index, 2) == 0);
    const uint32_t fields = Fields(dm.get());
    QX_FUZZ_CHECK((fields & setup::kDmPaperSize) != 0);
    QX_FUZZ_CHECK((fields & (setup::kDmPaperLength | setup::kDmPaperWidth | setup::kDmFormName)) == 0);
}

// The stored picture path: one byte of drive type (low 3 bits) and pick
// (bit 3), then UTF-16 units, at most the record's 260, without terminator.
void PicturePath(const uint8_t *data, size_t size) {
    if (size == 0) return;
    const auto drive = static_cast<qx::DriveType>(data[0] & 7);
    const bool picked = (data[0] & 8) != 0;
    std::u16string path;
    for (size_t i = 1; i + 1 < size && path.size() < 260; i += 2)
        path.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    const size_t units = path.size();
    // Exactly `units` units and no terminator: the limit alone must stop the reads.
    std::unique_ptr<char16_t[]> held(new char16_t[units == 0 ? 1 : units]);
    if (units != 0) std::memcpy(held.get(), path.data(), units * sizeof(char16_t));
    const qx::PicturePathKind kind = qx::ClassifyPicturePath(held.get(), units);
    const size_t nul = path.find(u'\0');
    const std::u16string upTo = path.substr(0, nul);
    QX_FUZZ_CHECK(kind == qx::ClassifyPicturePath(upTo.c_str(), 260));
    const std::wstring wide(upTo.begin(), upTo.end());
    QX_FUZZ_CHECK(kind == qx::ClassifyPicturePath(wide.c_str(), 260));

    const auto sep = [](char16_t u) { return u == u'\\' || u == u'/'; };
    using K = qx::PicturePathKind;
    if (kind == K::Empty) QX_FUZZ_CHECK(upTo.empty());
    if (kind == K::DrivePath || kind == K::DosDevice || kind == K::DriveRelative)
        QX_FUZZ_CHECK(upTo.size() >= 2 && upTo[1] == u':' && ((upTo[0] | 0x20) >= u'a' && (upTo[0] | 0x20) <= u'z'));
    if (kind == K::DrivePath || kind == K::DosDevice) QX_FUZZ_CHECK(upTo.size() >= 3 && sep(upTo[2]));
    if (kind == K::Unc) QX_FUZZ_CHECK(sep(upTo[0]) && sep(upTo[1]));

    // ASCII case never matters; nor does the kind of slash, but for the
    // object manager's prefix, which takes backslashes only.
    std::u16string upper = upTo, swapped = upTo;
    for (char16_t &u : upper)
        if (u >= u'a' && u <= u'z') u = static_cast<char16_t>(u - 32);
    for (char16_t &u : swapped)
        if (sep(u)) u = u == u'/' ? u'\\' : u'/';
    QX_FUZZ_CHECK(kind == qx::ClassifyPicturePath(upper.c_str(), 260));
    const auto objectPrefix = [](const std::u16string &p) { return p.size() >= 4 && p.compare(0, 4, u"\\??\\") == 0; };
    const auto rootPrefix = [](const std::u16string &p) { return p.size() >= 4 && p.compare(0, 4, u"/\?\?/") == 0; };
    if (!objectPrefix(upTo) && !rootPrefix(upTo)) QX_FUZZ_CHECK(kind == qx::ClassifyPicturePath(swapped.c_str(), 260));

    // Only a full path on a local drive is opened, or a network one the
    // user picked; only a network path is kept unopened.
    const qx::StoredPictureAction action = qx::DecideStoredPicture(kind, drive, picked);
    const bool network = kind == K::Unc || (kind == K::DrivePath && drive == qx::DriveType::Remote);
    const bool local = kind == K::DrivePath && drive != qx::DriveType::Remote && drive != qx::DriveType::Unknown &&
                       drive != qx::DriveType::NoRootDir && (data[0] & 7) <= 6;
    const qx::StoredPictureAction expected = local || (network && picked) ? qx::StoredPictureAction::Open
                                             : network                  ? qx::StoredPictureAction::KeepUnopened
                                                                        : qx::StoredPictureAction::Forget;
    QX_FUZZ_CHECK(action == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    switch (data[0] % 4) {
    case 0: EventName(data + 1, size - 1); break;
    case 1: CommandLine(data + 1, size - 1); break;
    case 2: Paper(data + 1, size - 1); break;
    case 3: PicturePath(data + 1, size - 1); break;
    }
    return 0;
}
