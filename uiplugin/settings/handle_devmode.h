#pragma once
// Win32 side of the device-mode requests: the DevMode slot forwards here.
#include "uiplugin/frame/oem_contract.h"

HRESULT HandleDevMode(DWORD dwMode, POEMDMPARAM pOemDMParam);
