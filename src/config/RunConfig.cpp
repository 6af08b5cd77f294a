#include "config/RunConfig.h"

#include <cstdio>
#include <cwchar>

#include "config/XmlDocument.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"
#include "shell/simpleLog.h"

namespace {

void ReadChild(XmlDocument& doc, const wchar_t* name, std::wstring& field) {
  std::wstring text;
  if (XmlDocument::GetChildText(doc, name, text)) field = text;
}

// The decimal conversion of the C library: leading blanks, a sign, digits, anything after.
long DecimalValue(const std::wstring& text) { return std::wcstol(text.c_str(), nullptr, 10); }

}  // namespace

void RunConfig::Read() {
  if (fileName.empty()) return;
  Log(3, "[INFO] ReadRunConfig");
  std::wstring text, result;
  XmlDocument doc;
  if (XmlDocument::ReadTextFile(fileName, text, result) && doc.SetDoc(text) && doc.FindElem(L"config")) {
    ReadChild(doc, L"Status", Status);
    ReadChild(doc, L"JoinExp", JoinExp);
    ReadChild(doc, L"SelectLang", SelectLang);
    std::wstring path;
    if (XmlDocument::GetChildText(doc, L"InstallPath", path)) {
      if (!path.empty() && path.back() != L'/') path += L'/';
      InstallPath = path;
    }
    ReadChild(doc, L"AgreeExtInstall", AgreeExtInstall);
    ReadChild(doc, L"TmpPackagePath", TmpPackagePath);
  }
  resumed = DecimalValue(Status) == 1;
}

void RunConfig::Write(bool forkRun) {
  if (forkRun || fileName.empty()) return;
  std::lock_guard<std::mutex> guard(m_writeLock);
  Log(3, "[INFO] WriteRunConfig");
  XmlDocument doc(L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  doc.AddElem(L"config");
  doc.IntoElem();
  doc.AddElem(L"Status", Status.c_str());
  doc.AddElem(L"JoinExp", JoinExp.c_str());
  doc.AddElem(L"SelectLang", SelectLang.c_str());
  doc.AddElem(L"InstallPath", InstallPath.c_str());
  doc.AddElem(L"AgreeExtInstall", AgreeExtInstall.c_str());
  doc.AddElem(L"TmpPackagePath", TmpPackagePath.c_str());
  doc.OutOfElem();
  // Through a temporary file: a crash while writing must not leave half a file behind.
  plat::WriteWholeFileAtomic(fileName, plat::WideToUtf8(doc.GetDoc()));
}

void RunConfig::Delete(bool forkRun) {
  resumed = false;
  if (!forkRun && !fileName.empty()) std::remove(fileName.c_str());
}
