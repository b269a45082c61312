// Top-level windows for the helper programs that put them up.
#pragma once

#include <windows.h>

inline HWND CreateTopLevelWindow(const char *pszClass, const char *pszTitle, DWORD dwStyle,
                                 DWORD dwExStyle, RECT rect)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hbrBackground = (HBRUSH)(COLOR_DESKTOP + 1);
    wc.lpszClassName = pszClass;
    RegisterClassA(&wc); // fails harmlessly where the class exists
    return CreateWindowExA(dwExStyle, pszClass, pszTitle, dwStyle, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, NULL, NULL, wc.hInstance,
                           NULL);
}

inline void PumpWaiting()
{
    for (MSG msg; PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE);)
        DispatchMessageA(&msg);
}
