#pragma once
// The one way the installer shows a message box. Without a screen the caption and text go
// to standard error, so a headless run still tells its user what went wrong.
#include <string>

namespace ui {

enum MessageBoxIcon { MB_ICON_NONE = 0, MB_ICON_ERROR = 0x10, MB_ICON_WARNING = 0x30, MB_ICON_INFO = 0x40 };
enum MessageBoxResult { ID_OK = 1, ID_CANCEL = 2 };

int ShowMessageBox(const std::wstring& caption, const std::wstring& text, int icon);

}  // namespace ui
