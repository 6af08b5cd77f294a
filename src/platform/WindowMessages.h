#pragma once
// Window message identifiers. The numbers are an interface: setup programs and host
// installers post WM_INSTALL_PROGRESS and WM_COPYDATA to our windows by number.
#include <cstdint>

namespace plat {

constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUIT = 0x0012;        // wParam: exit code; ends GetMessage
constexpr uint32_t WM_COPYDATA = 0x004A;    // wParam: sender handle; lParam: record tag; payload: record data
constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;  // wParam & 0xFFF0: SC_ command
constexpr uint32_t WM_TIMER = 0x0113;       // wParam: timer id
constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_APP = 0x8000;

// WM_SYSCOMMAND commands.
constexpr uint64_t SC_RESTORE = 0xF120;  // restore when minimised, else show; then raise

// The main window's custom messages.
constexpr uint32_t WM_INSTALL_PROGRESS = WM_USER + 111;  // 0x046F, wParam: percent
constexpr uint32_t WM_APP_EXIT = WM_APP + 444;           // 0x81BC

}  // namespace plat
