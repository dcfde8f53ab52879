// Private message numbers and timer ids of the main window. The numbers are
// kept from the desktop program's message space (WM_USER = 0x400) because
// plug-ins and log readers know them.
#pragma once

#include <cstdint>

namespace zorvex {

constexpr uint32_t WM_USER_BASE = 0x400;
constexpr uint32_t MSG_STATUS_HINT = 1125;
constexpr uint32_t MSG_REFRESH_GROUPS = 1126;
constexpr uint32_t MSG_HEADER_WINDOW_OPENED = 1128;
constexpr uint32_t MSG_HEADER_WINDOW_CLOSED = 1129;
constexpr uint32_t MSG_HEADER_WINDOW_ARTICLE_END = 1130;
constexpr uint32_t MSG_STATUS_QUEUE = 1140;  // WM_USER + 116
constexpr uint32_t MSG_CATALOG_NEXT_STEP = 1142;
constexpr uint32_t MSG_SOCKET = 1143;  // WM_USER + 119
constexpr uint32_t MSG_TASKBAR_ICON = 1149;

constexpr uint32_t TIMER_RETRY = 104;         // 5 s
constexpr uint32_t TIMER_WATCHDOG = 108;      // [timeout] delay seconds
constexpr uint32_t TIMER_AUTO_EXIT = 109;     // 1 s
constexpr uint32_t TIMER_AFTER_START = 111;   // 100 ms, once
constexpr uint32_t TIMER_PAUSE_TICKER = 112;  // 250 ms

}  // namespace zorvex
