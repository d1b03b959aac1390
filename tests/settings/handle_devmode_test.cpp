// HandleDevMode with the host's real OEMDMPARAM and DEVMODEW records, as the
// DevMode slot receives them; last-error values checked against a sentinel.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "uiplugin/settings/handle_devmode.h"
#include "uiplugin/settings/private_devmode.h"

namespace {

constexpr DWORD kSentinel = 0x0BADF00D;
const unsigned char kHeaderBytes[12] = {0x40, 0x02, 0, 0, 0x4C, 0x50, 0x43, 0x4E, 1, 0, 0, 0};

// A device mode as the host keeps it: the public part, then our block.
struct HostDevMode {
    DEVMODEW pub;
    unsigned char priv[576];
};

void InitPublic(DEVMODEW &dm, const wchar_t *device, short paper) {
    std::memset(&dm, 0, sizeof dm);
    wcsncpy(dm.dmDeviceName, device, CCHDEVICENAME - 1);
    dm.dmSize = sizeof(DEVMODEW);
    dm.dmDriverExtra = 576;
    dm.dmFields = DM_ORIENTATION | DM_PAPERSIZE;
    dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dmPaperSize = paper;
}

struct Fixture {
    HostDevMode in{}, out{};
    OEMDMPARAM param{};
    Fixture() {
        InitPublic(in.pub, L"QX748 Color", 300);
        InitPublic(out.pub, L"QX748 Color", 300);
        for (size_t i = 0; i < 576; ++i) in.priv[i] = static_cast<unsigned char>(i * 3);
        for (size_t i = 0; i < 576; ++i) out.priv[i] = static_cast<unsigned char>(i * 5);
        param.cbSize = sizeof param;
        param.pPublicDMIn = &in.pub;
        param.pPublicDMOut = &out.pub;
        param.pOEMDMIn = in.priv;
        param.pOEMDMOut = out.priv;
        param.cbBufSize = 576;
    }
};

HRESULT Call(DWORD mode, POEMDMPARAM p) {
    SetLastError(kSentinel);
    return HandleDevMode(mode, p);
}

TEST(HandleDevMode, NullParameterRecordFails) {
    EXPECT_EQ(Call(OEMDM_SIZE, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Call(OEMDM_DEFAULT, nullptr), E_FAIL);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(HandleDevMode, UnknownCodesFailAndChangeNothing) {
    for (DWORD code : {0ul, 5ul, 0x80000001ul}) {
        Fixture f;
        f.param.cbBufSize = 17;
        const Fixture before = f;
        EXPECT_EQ(Call(code, &f.param), E_FAIL) << code;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << code;
        EXPECT_EQ(0, std::memcmp(&f.param, &before.param, sizeof f.param));
        EXPECT_EQ(0, std::memcmp(&f.in, &before.in, sizeof f.in));
        EXPECT_EQ(0, std::memcmp(&f.out, &before.out, sizeof f.out));
    }
}

TEST(HandleDevMode, SizeSetsTheBufferSizeOnly) {
    Fixture f;
    f.param.cbBufSize = 0;
    const Fixture before = f;
    EXPECT_EQ(Call(OEMDM_SIZE, &f.param), S_OK);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(f.param.cbBufSize, 576u);
    EXPECT_EQ(0, std::memcmp(&f.in, &before.in, sizeof f.in));
    EXPECT_EQ(0, std::memcmp(&f.out, &before.out, sizeof f.out));
}

TEST(HandleDevMode, DefaultWritesTheBlockAndThePublicInput) {
    Fixture f;
    std::memset(f.out.priv, 0, sizeof f.out.priv);
    const HostDevMode outBefore = f.out;
    EXPECT_EQ(Call(OEMDM_DEFAULT, &f.param), S_OK);
    EXPECT_EQ(GetLastError(), kSentinel);
    unsigned char expected[576] = {};
    qx::WritePrivateDevMode(qx::DefaultPrivateDevMode(), expected);
    EXPECT_EQ(0, std::memcmp(f.out.priv, expected, 576));
    EXPECT_EQ(0, std::memcmp(f.out.priv, kHeaderBytes, 12));
    EXPECT_EQ(f.in.pub.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(f.in.pub.dmPaperSize, DMPAPER_A4);
    EXPECT_EQ(f.in.pub.dmFields, static_cast<DWORD>(DM_ORIENTATION | DM_PAPERSIZE));
    // The public output record is not the one adjusted.
    EXPECT_EQ(0, std::memcmp(&f.out.pub, &outBefore.pub, sizeof f.out.pub));
}

TEST(HandleDevMode, DefaultKeepsADriverPaperOfAServerPrinter) {
    Fixture f;
    InitPublic(f.in.pub, L"\\\\server\\QX748", 300);
    EXPECT_EQ(Call(OEMDM_DEFAULT, &f.param), S_OK);
    EXPECT_EQ(f.in.pub.dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(f.in.pub.dmPaperSize, 300);
}

TEST(HandleDevMode, DefaultWithNullRecordsSucceeds) {
    Fixture f;
    f.param.pOEMDMOut = nullptr;
    EXPECT_EQ(Call(OEMDM_DEFAULT, &f.param), S_OK);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(f.in.pub.dmPaperSize, DMPAPER_A4);

    Fixture g;
    g.param.pPublicDMIn = nullptr;
    EXPECT_EQ(Call(OEMDM_DEFAULT, &g.param), S_OK);
    EXPECT_EQ(0, std::memcmp(g.out.priv, kHeaderBytes, 12));
    EXPECT_EQ(g.in.pub.dmPaperSize, 300);
}

TEST(HandleDevMode, ConvertAndMergeOnHostRecords) {
    // Defaulted output, input of our own signature with an older version
    // and an out-of-range brightness.
    Fixture f;
    std::memset(f.out.priv, 0, 576);
    ASSERT_EQ(Call(OEMDM_DEFAULT, &f.param), S_OK);
    std::memcpy(f.in.priv, f.out.priv, 576);
    f.in.priv[8] = 7;     // dwVersion
    f.in.priv[12] = 50;   // brightness
    f.in.priv[52] = 'P';  // path
    Fixture m = f;
    m.param.pPublicDMIn = &m.in.pub, m.param.pPublicDMOut = &m.out.pub;
    m.param.pOEMDMIn = m.in.priv, m.param.pOEMDMOut = m.out.priv;

    EXPECT_EQ(Call(OEMDM_CONVERT, &f.param), S_OK);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(0, std::memcmp(f.out.priv, kHeaderBytes, 12));
    EXPECT_EQ(f.out.priv[12], 50);
    EXPECT_EQ(f.out.priv[52], 'P');

    EXPECT_EQ(Call(OEMDM_MERGE, &m.param), S_OK);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(0, std::memcmp(m.out.priv, kHeaderBytes, 12));
    EXPECT_EQ(m.out.priv[12], 0);
    EXPECT_EQ(m.out.priv[52], 'P');
}

TEST(HandleDevMode, ForeignBlockAndNullRecordsStillSucceed) {
    Fixture f;
    std::memset(f.out.priv, 0, 576);
    ASSERT_EQ(Call(OEMDM_DEFAULT, &f.param), S_OK);
    std::memcpy(f.in.priv + 4, "ABCD", 4);
    EXPECT_EQ(Call(OEMDM_MERGE, &f.param), S_OK);
    EXPECT_EQ(0, std::memcmp(f.out.priv, kHeaderBytes, 12));
    EXPECT_EQ(f.out.priv[34], 10);  // unsharpRadius repaired; amount stays 0
    EXPECT_EQ(f.out.priv[32], 0);

    Fixture g;
    g.param.pOEMDMIn = nullptr;
    const Fixture before = g;
    EXPECT_EQ(Call(OEMDM_CONVERT, &g.param), S_OK);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(0, std::memcmp(&g.out, &before.out, sizeof g.out));
    EXPECT_EQ(Call(OEMDM_MERGE, &g.param), S_OK);
    EXPECT_EQ(0, std::memcmp(g.out.priv, kHeaderBytes, 12));  // still validated
}

}  // namespace
