#include "ui/QevWnd.h"

#include "config/LangTable.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"

QevWnd::QevWnd(plat::IMessageLoop& loop, LangTable& lang) : m_window(loop), m_lang(lang) {}

QevWnd::~QevWnd() { m_window.Destroy(); }

bool QevWnd::Create(const std::wstring& title) {
  m_window.SetProcedure([this](const plat::Message& m, int64_t& result) { return HandleCustomMessage(m, result); });
  return m_window.Create(plat::kMainWindowClass, plat::WideToUtf8(title));
}

bool QevWnd::HandleCustomMessage(const plat::Message& message, int64_t& result) {
  result = 0;
  switch (message.message) {
    case plat::WM_APP_EXIT:
      m_exiting = true;
      m_window.Loop().PostQuitMessage(0);
      return true;
    case plat::WM_SYSCOMMAND:
      if ((message.wParam & 0xFFF0) == plat::SC_RESTORE) {
        Log(3, "[INFO] QevWnd restore, brought to the front.");
      }
      return false;  // the default processing restores and raises the window
    default:
      return false;
  }
}
