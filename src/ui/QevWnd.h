#pragma once
// The installer's main window. For now it is the bare top-level window the rest of the
// system relies on: class "QEV", the product name as title, a handle other processes can
// post to, and the close request that ends the message loop. Its pages come with the
// user interface.
#include <memory>
#include <string>

#include "platform/Window.h"

class LangTable;

class QevWnd {
 public:
  QevWnd(plat::IMessageLoop& loop, LangTable& lang);
  ~QevWnd();

  // Creates the native window (hidden) with class "QEV" and the title; false on failure.
  bool Create(const std::wstring& title);
  plat::HWND Handle() const { return m_window.Handle(); }
  plat::NativeWindow& Window() { return m_window; }

 private:
  bool HandleCustomMessage(const plat::Message& message, int64_t& result);

  plat::NativeWindow m_window;
  LangTable& m_lang;
  bool m_exiting = false;
};
