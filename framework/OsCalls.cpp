#include "framework/OsCalls.h"

OsCalls& Os()
{
    static OsCalls table;
    return table;
}

// The shipping build is 32-bit: there the records the receiver link and the tray hand to the
// platform must have the sizes the platform expects of a 32-bit caller.
#if defined(__i386__) || defined(_M_IX86)
static_assert(NOTIFYICONDATAA_V1_SIZE == 88);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);
#endif
