#include "platform/Clipboard.h"

#include <atomic>

namespace plat {

namespace {
std::atomic<ClipboardReader> g_reader{nullptr};
}

void SetClipboardReader(ClipboardReader reader) { g_reader.store(reader); }

bool GetClipboardText(std::string& text) {
  text.clear();
  ClipboardReader reader = g_reader.load();
  return reader ? reader(text) : false;
}

}  // namespace plat
