#pragma once
#include <string>

namespace plat {

// The clipboard's plain text (UTF-8). False when there is none or no desktop to ask; the
// screen backend replaces this answer once it is running.
bool GetClipboardText(std::string& text);

using ClipboardReader = bool (*)(std::string& text);
void SetClipboardReader(ClipboardReader reader);

}  // namespace plat
