// The DevMode slot's requests: unpacks the host's OEMDMPARAM and runs the
// portable request on the records it points to.
#include "uiplugin/settings/handle_devmode.h"

#include "uiplugin/settings/private_devmode.h"

static_assert(qx::kDevModeSize == OEMDM_SIZE && qx::kDevModeDefault == OEMDM_DEFAULT &&
                  qx::kDevModeConvert == OEMDM_CONVERT && qx::kDevModeMerge == OEMDM_MERGE,
              "request codes");
static_assert(offsetof(DEVMODEW, dmDeviceName) == qx::kDmDeviceNameOffset &&
                  offsetof(DEVMODEW, dmOrientation) == qx::kDmOrientationOffset &&
                  offsetof(DEVMODEW, dmPaperSize) == qx::kDmPaperSizeOffset,
              "public device-mode offsets");
static_assert(sizeof(OEM_DMEXTRAHEADER) == qx::pdm::kSettings, "private block header");

HRESULT HandleDevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) {
    if (pOemDMParam == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    qx::DevModeRequest request;
    request.publicDMIn = pOemDMParam->pPublicDMIn;
    request.privateIn = pOemDMParam->pOEMDMIn;
    request.privateOut = pOemDMParam->pOEMDMOut;
    request.bufSize = pOemDMParam->cbBufSize;
    if (!qx::RunDevModeRequest(dwMode, request)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_FAIL;
    }
    pOemDMParam->cbBufSize = request.bufSize;
    return S_OK;
}
