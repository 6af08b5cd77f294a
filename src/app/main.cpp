// The installer's process entry: from the command line to the end of the message loop.
#include <cstdio>
#include <string>
#include <vector>

#include "config/LangTable.h"
#include "manager/QevMgr.h"
#include "platform/Diagnostics.h"
#include "platform/MessageLoopHeadless.h"
#include "platform/Process.h"
#include "platform/ResourceBundle.h"
#include "platform/SingleInstance.h"
#include "platform/TextConv.h"
#include "platform/Window.h"
#include "shell/CommandLineMap.h"
#include "shell/simpleLog.h"
#include "ui/QevWnd.h"
#include "ui/toolkit/MessageBox.h"

namespace {

constexpr uint32_t kSkinResource = 133;
constexpr const wchar_t* kAdminText = L"You must be logged in as administrator when installing this program.";

void LogDiagnostic(int level, const std::string& message) { Log(level, "%s", message.c_str()); }

void ErrorBox(bool fork, const std::wstring& text) {
  if (!fork) ui::ShowMessageBox(L"Error", text, ui::MB_ICON_ERROR);
}

int Run(const std::vector<std::wstring>& args) {
  // 1. The command line.
  const CommandLineMap cmdLine = CommandLineMap::FromArguments(args);
  const bool fork = IsForkRun(cmdLine);

  // 2. The log.
  simpleLog::Create(fork ? "cvForkQEV.log" : "cvQEV.log");
  plat::SetDiagnosticSink(LogDiagnostic);
  Log(3, "[INFO] start, fork=[%d].", fork ? 1 : 0);

  // 3. The crash handler arrives with crash reporting.

  // 4. Administrator rights; this text is English only, nothing is loaded yet.
  if (!plat::IsAdministrator()) {
    Log(1, "[ERROR] You must be logged in as administrator when installing this program.");
    ErrorBox(fork, kAdminText);
    return -1;
  }

  // 5-7. The product and run configuration.
  QevMgr& mgr = QevMgr::Instance();
  mgr.m_bFork = fork;
  if (!mgr.LoadLocalXml()) {
    Log(1, "[ERROR] LoadLocalXml failed!");
    ErrorBox(fork, L"Load product xml error.");
    return -1;
  }
  mgr.ReadRunConfig();

  // 8. What the host tells a fork run.
  if (fork) {
    const std::wstring lang = cmdLine.Value(L"HostLang");
    if (!lang.empty()) {
      mgr.m_runConfig.SelectLang = lang;
      Log(3, "[INFO] set select lang=[%s].", plat::WideToAnsi(lang).c_str());
    }
    mgr.m_wstrHostVersion = cmdLine.Value(L"HostVersion");
    const std::wstring hwnd = cmdLine.Value(L"HostHwnd");
    if (!hwnd.empty()) {
      mgr.m_hostHwnd = ParseHostHwnd(hwnd);
      if (mgr.m_hostHwnd) Log(3, "[INFO] set host hwnd=[%x].", *mgr.m_hostHwnd);
    }
  }

  // 9. The language table.
  LangTable lang;
  if (!lang.loadLangXML(mgr.m_product.ProductBrand)) {
    Log(1, "[ERROR] loadLangXML failed!");
    ErrorBox(fork, L"Load lang xml error.");
    return -1;
  }

  // 10. One instance per product and mode.
  const std::string productName = plat::WideToUtf8(mgr.m_product.ProductName);
  plat::SingleInstance instance;
  if (!instance.Acquire(productName + (fork ? "_qev_fork" : "_qev")) && instance.HeldElsewhere()) {
    Log(2, "[WARN] Already exist PreInstance.");
    if (!fork) plat::ActivateExistingWindow(productName);
    return -1;
  }

  // 11. There is no COM to initialise on this platform.

  // 12. The skin stays with the resources until the window builds its layout from it; a
  // missing skin does not stop start-up.
  const plat::Resource* skin = plat::ResourceBundle::Own().Find("ZIPRES", kSkinResource);
  (void)skin;

  // 13-14. The main window: hidden for the whole of a fork run.
  plat::CHeadlessMessageLoop loop;
  QevWnd wnd(loop, lang);
  if (!wnd.Create(mgr.m_product.ProductName)) {
    Log(1, "[ERROR] create QevWnd failed!");
    return -1;
  }
  Log(3, "[INFO] QevWnd handle=[%x]", wnd.Handle());
  mgr.m_mainHwnd = wnd.Handle();
  if (!fork) wnd.Window().ShowWindow(plat::SW_SHOWNORMAL);

  // 15. The message loop.
  Log(3, "[INFO] MessageLoop");
  loop.Run();
  Log(3, "[INFO] MessageLoop end");

  // 16. Shutdown.
  instance.Release();
  Log(3, "[INFO] exit!");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(plat::Utf8ToWide(argv[i]));
  return Run(args);
}
