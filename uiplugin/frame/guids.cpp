// The one translation unit that defines the contract's GUIDs.
#include <initguid.h>
#include "uiplugin/frame/oem_contract.h"
