#include "ui/toolkit/MessageBox.h"

#include <cstdio>

#include "platform/TextConv.h"

namespace ui {

int ShowMessageBox(const std::wstring& caption, const std::wstring& text, int /*icon*/) {
  std::fprintf(stderr, "%s: %s\n", plat::WideToUtf8(caption).c_str(), plat::WideToUtf8(text).c_str());
  std::fflush(stderr);
  return ID_OK;
}

}  // namespace ui
