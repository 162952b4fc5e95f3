#pragma once

// Basic types and constants of the windowing layer, with the names and values dialog code
// written for the desktop toolkit expects: BOOL, UINT, message ids, notification codes, message
// box button sets and results, virtual key codes.
//
//   if (AfxMessageBox("Replace it?", MB_YESNO | MB_ICONQUESTION) == IDYES) { ... }
//   BOOL CMyDlg::OnCommand(UINT id, UINT code) { if (code == BN_CLICKED && id == 3171) ... }

#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using LRESULT = std::intptr_t;
using LONG = std::int32_t;
// A colour as 0x00BBGGRR.
using COLORREF = std::uint32_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

constexpr COLORREF RGB(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return static_cast<COLORREF>(red) | (static_cast<COLORREF>(green) << 8U) |
           (static_cast<COLORREF>(blue) << 16U);
}

// Dialog results and message box answers.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Message box types: one button set, optionally an icon and a default button.
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_RETRYCANCEL = 0x5;
inline constexpr UINT MB_TYPEMASK = 0xF;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONSTOP = MB_ICONERROR;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONEXCLAMATION = MB_ICONWARNING;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr UINT MB_ICONMASK = 0xF0;
inline constexpr UINT MB_DEFBUTTON1 = 0x000;
inline constexpr UINT MB_DEFBUTTON2 = 0x100;
inline constexpr UINT MB_DEFBUTTON3 = 0x200;
inline constexpr UINT MB_DEFMASK = 0xF00;

// Window messages a dialog sees in PreTranslateMessage.
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSKEYUP = 0x0105;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_HSCROLL = 0x0114;
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_CONTEXTMENU = 0x007B;
// The first message number free for a program's own messages.
inline constexpr UINT WM_USER = 0x0400;

// A message parameter of two 16-bit halves, and the halves back.
constexpr LPARAM MAKELPARAM(std::uint16_t low, std::uint16_t high) {
    return static_cast<LPARAM>(static_cast<std::uint32_t>(low) |
                               (static_cast<std::uint32_t>(high) << 16U));
}
constexpr std::uint16_t LOWORD(std::uintptr_t value) {
    return static_cast<std::uint16_t>(value & 0xFFFFU);
}
constexpr std::uint16_t HIWORD(std::uintptr_t value) {
    return static_cast<std::uint16_t>((value >> 16U) & 0xFFFFU);
}

// Notification codes passed to OnCommand with the control id.
inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT CBN_SELCHANGE = 1;
inline constexpr UINT LBN_SELCHANGE = 1;
inline constexpr UINT EN_SETFOCUS = 0x0100;
inline constexpr UINT EN_KILLFOCUS = 0x0200;
inline constexpr UINT EN_CHANGE = 0x0300;

// Notification codes of WM_NOTIFY (NMHDR::code). The toolkit counts each control class's codes
// down from its own base below zero, so they are large unsigned numbers.
inline constexpr UINT UDN_FIRST = 0U - 721U;
inline constexpr UINT UDN_DELTAPOS = UDN_FIRST - 1U;
inline constexpr UINT TCN_FIRST = 0U - 550U;
inline constexpr UINT TCN_SELCHANGE = TCN_FIRST - 1U;

// Scroll codes of WM_HSCROLL from a slider (OnHScroll's nSBCode).
inline constexpr UINT TB_LINEUP = 0;
inline constexpr UINT TB_LINEDOWN = 1;
inline constexpr UINT TB_PAGEUP = 2;
inline constexpr UINT TB_PAGEDOWN = 3;
inline constexpr UINT TB_THUMBPOSITION = 4;
inline constexpr UINT TB_THUMBTRACK = 5;
inline constexpr UINT TB_TOP = 6;
inline constexpr UINT TB_BOTTOM = 7;
inline constexpr UINT TB_ENDTRACK = 8;

// Menu item flags (AppendMenu) and TrackPopupMenu flags.
inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_ENABLED = 0x0000;
inline constexpr UINT MF_UNCHECKED = 0x0000;
inline constexpr UINT MF_GRAYED = 0x0001;
inline constexpr UINT MF_DISABLED = 0x0002;
inline constexpr UINT MF_CHECKED = 0x0008;
inline constexpr UINT MF_SEPARATOR = 0x0800;
inline constexpr UINT TPM_LEFTALIGN = 0x0000;
inline constexpr UINT TPM_RIGHTBUTTON = 0x0002;
inline constexpr UINT TPM_NONOTIFY = 0x0080;
inline constexpr UINT TPM_RETURNCMD = 0x0100;

// List results.
inline constexpr int CB_ERR = -1;
inline constexpr int LB_ERR = -1;

// ShowWindow commands.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

// Check states.
inline constexpr int BST_UNCHECKED = 0;
inline constexpr int BST_CHECKED = 1;

// Virtual keys; letters and digits are their upper-case character codes ('A', '0').
inline constexpr UINT VK_TAB = 0x09;
inline constexpr UINT VK_RETURN = 0x0D;
inline constexpr UINT VK_SHIFT = 0x10;
inline constexpr UINT VK_CONTROL = 0x11;
inline constexpr UINT VK_MENU = 0x12;  // Alt
inline constexpr UINT VK_ESCAPE = 0x1B;
inline constexpr UINT VK_F1 = 0x70;

// The help viewer's command that opens a topic by its context number.
inline constexpr UINT HH_HELP_CONTEXT = 15;

class CWnd;
// A window handle: non-null exactly while the window exists.
using HWND = const CWnd*;

// A point in pixels (screen coordinates where a message gives them).
struct CPoint {
    LONG x = 0;
    LONG y = 0;
    CPoint() = default;
    CPoint(LONG initX, LONG initY) : x(initX), y(initY) {}
    bool operator==(const CPoint&) const = default;
};

// The header every WM_NOTIFY carries: the control that sends it and the notification code.
struct NMHDR {
    HWND hwndFrom = nullptr;
    UINT_PTR idFrom = 0;
    UINT code = 0;
};

// UDN_DELTAPOS: the spin button's position and the change the user asks for. A handler that
// sets *pResult to non-zero refuses the change.
struct NMUPDOWN {
    NMHDR hdr;
    int iPos = 0;
    int iDelta = 0;
};

// A message as PreTranslateMessage sees it.
struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;  // the virtual key for key messages
    LPARAM lParam = 0;
};
