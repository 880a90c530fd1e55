// Owners of the receiver link's handles. They close through the OS call table, as every other
// call of the link goes.
#pragma once

#include "framework/OsCalls.h"
#include "framework/Unique.h"

struct ReceiverHandleTraits
{
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { (void)Os().CloseHandle(handle); } // nothing to do if it fails
};
using UniqueReceiverHandle = UniqueResource<ReceiverHandleTraits>;

struct ReceiverEventTraits
{
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type event) { (void)Os().CloseHandle(event); }
};
using UniqueReceiverEvent = UniqueResource<ReceiverEventTraits>;

struct DeviceInfoListTraits
{
    using Type = HDEVINFO;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type list) { (void)Os().SetupDiDestroyDeviceInfoList(list); }
};
using UniqueDeviceInfoList = UniqueResource<DeviceInfoListTraits>;
