// A declarative message map: one row per message a class takes, matched on message,
// notification code and control or command id, dispatched to a member function.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <variant>

template <class T> struct MessageMapEntry
{
    // std::monostate marks a message that is taken and deliberately does nothing.
    using Handler = std::variant<std::monostate,
                                 void (T::*)(),                 // commands, WM_PAINT
                                 void (T::*)(UINT, LPARAM),     // WM_SYSCOMMAND: id, parameter
                                 HCURSOR (T::*)(),              // WM_QUERYDRAGICON
                                 void (T::*)(NMHDR*, LRESULT*), // WM_NOTIFY: record, result
                                 void (T::*)(UINT, UINT, UINT), // WM_KEYDOWN: key, repeat, flags
                                 void (T::*)(UINT_PTR)>;        // WM_TIMER: timer id

    UINT message;
    UINT code; // WM_COMMAND and WM_NOTIFY only: the notification code
    UINT id;   // WM_COMMAND and WM_NOTIFY only: the control or command id
    Handler handler;
};

namespace detail
{
template <class T> bool Matches(const MessageMapEntry<T>& entry, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (entry.message != message)
        return false;
    if (message == WM_COMMAND)
        return entry.id == LOWORD(wParam) && entry.code == HIWORD(wParam);
    if (message == WM_NOTIFY)
    {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        return header && entry.id == header->idFrom && entry.code == header->code;
    }
    return true;
}
} // namespace detail

// Runs the first matching row's handler; false when no row matches.
template <class T, size_t N>
bool DispatchMessageMap(T& target, const MessageMapEntry<T> (&map)[N], UINT message, WPARAM wParam, LPARAM lParam,
                        LRESULT* result)
{
    for (const MessageMapEntry<T>& entry : map)
    {
        if (!detail::Matches(entry, message, wParam, lParam))
            continue;
        *result = 0;
        std::visit(
            [&](auto handler)
            {
                using Handler = decltype(handler);
                if constexpr (std::is_same_v<Handler, void (T::*)()>)
                    (target.*handler)();
                else if constexpr (std::is_same_v<Handler, void (T::*)(UINT, LPARAM)>)
                    (target.*handler)(static_cast<UINT>(wParam), lParam);
                else if constexpr (std::is_same_v<Handler, HCURSOR (T::*)()>)
                    *result = reinterpret_cast<LRESULT>((target.*handler)());
                else if constexpr (std::is_same_v<Handler, void (T::*)(NMHDR*, LRESULT*)>)
                    (target.*handler)(reinterpret_cast<NMHDR*>(lParam), result);
                else if constexpr (std::is_same_v<Handler, void (T::*)(UINT, UINT, UINT)>)
                    (target.*handler)(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
                else if constexpr (std::is_same_v<Handler, void (T::*)(UINT_PTR)>)
                    (target.*handler)(static_cast<UINT_PTR>(wParam));
            },
            entry.handler);
        return true;
    }
    return false;
}
