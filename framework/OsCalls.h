// The one table through which every OS call with an effect outside the process goes, so that
// tests can observe and simulate it. The defaults are the real functions.
#pragma once

#include "framework/Unique.h"

#include <windows.h>

// DirectShow's IKsPropertySet first: dsound.h declares an older one under the same guard.
#include <strmif.h>

#include <dbt.h>
#include <dsound.h>
#include <setupapi.h>
#include <shellapi.h>

// mingw-w64's HID headers declare C functions without C linkage.
extern "C"
{
#include <hidsdi.h>

#include <hidpi.h>
}

struct OsCalls
{
    // The receiver link: HID, device setup, files, events and waits.
    decltype(&::HidD_GetHidGuid) HidD_GetHidGuid = ::HidD_GetHidGuid;
    decltype(&::HidD_GetAttributes) HidD_GetAttributes = ::HidD_GetAttributes;
    decltype(&::HidD_GetPreparsedData) HidD_GetPreparsedData = ::HidD_GetPreparsedData;
    decltype(&::HidD_FreePreparsedData) HidD_FreePreparsedData = ::HidD_FreePreparsedData;
    decltype(&::HidD_GetProductString) HidD_GetProductString = ::HidD_GetProductString;
    decltype(&::HidD_FlushQueue) HidD_FlushQueue = ::HidD_FlushQueue;
    decltype(&::HidP_GetCaps) HidP_GetCaps = ::HidP_GetCaps;
    decltype(&::SetupDiGetClassDevsA) SetupDiGetClassDevsA = ::SetupDiGetClassDevsA;
    decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces = ::SetupDiEnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) SetupDiGetDeviceInterfaceDetailA = ::SetupDiGetDeviceInterfaceDetailA;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList = ::SetupDiDestroyDeviceInfoList;
    decltype(&::RegisterDeviceNotificationA) RegisterDeviceNotificationA = ::RegisterDeviceNotificationA;
    decltype(&::CreateFileA) CreateFileA = ::CreateFileA;
    decltype(&::WriteFile) WriteFile = ::WriteFile;
    decltype(&::ReadFile) ReadFile = ::ReadFile;
    decltype(&::CancelIo) CancelIo = ::CancelIo;
    decltype(&::GetOverlappedResult) GetOverlappedResult = ::GetOverlappedResult;
    decltype(&::CloseHandle) CloseHandle = ::CloseHandle;
    decltype(&::CreateEventA) CreateEventA = ::CreateEventA;
    decltype(&::ResetEvent) ResetEvent = ::ResetEvent;
    decltype(&::WaitForSingleObject) WaitForSingleObject = ::WaitForSingleObject;

    // The shell, system settings and messages the user sees.
    decltype(&::Shell_NotifyIconA) Shell_NotifyIconA = ::Shell_NotifyIconA;
    decltype(&::GetLastError) GetLastError = ::GetLastError;
    decltype(&::Sleep) Sleep = ::Sleep;
    decltype(&::SystemParametersInfoA) SystemParametersInfoA = ::SystemParametersInfoA;
    decltype(&::SetThreadExecutionState) SetThreadExecutionState = ::SetThreadExecutionState;
    decltype(&::MessageBoxA) MessageBoxA = ::MessageBoxA;
    decltype(&::MessageBoxW) MessageBoxW = ::MessageBoxW;
    decltype(&::GetCursorPos) GetCursorPos = ::GetCursorPos;
    decltype(&::TrackPopupMenu) TrackPopupMenu = ::TrackPopupMenu;

    // Sound system and registry.
    decltype(&::DirectSoundCreate) DirectSoundCreate = ::DirectSoundCreate;
    decltype(&::RegCreateKeyExA) RegCreateKeyExA = ::RegCreateKeyExA;
    decltype(&::RegOpenKeyExA) RegOpenKeyExA = ::RegOpenKeyExA;
    decltype(&::RegQueryValueExA) RegQueryValueExA = ::RegQueryValueExA;
    decltype(&::RegSetValueExA) RegSetValueExA = ::RegSetValueExA;
    decltype(&::RegCloseKey) RegCloseKey = ::RegCloseKey;
};

// The process-wide table. Only tests replace entries, each for a scope.
OsCalls& Os();

// A registry key that closes through the table, so that tests see every close.
struct RegistryKeyTraits
{
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type key) { (void)Os().RegCloseKey(key); } // nothing to do if it fails
};
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;
