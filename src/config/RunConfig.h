#pragma once
// The run configuration file: the state of an unfinished run and the user's choices, kept
// next to the packages so that the next start resumes instead of starting over.
#include <mutex>
#include <string>

class RunConfig {
 public:
  std::wstring Status;
  std::wstring JoinExp;
  std::wstring SelectLang;
  std::wstring InstallPath;
  std::wstring AgreeExtInstall;
  std::wstring TmpPackagePath;
  bool resumed = false;

  // Folder + "QEV_DOWNTASK_" + product id + ".xml"; fixed for the whole run.
  std::string fileName;

  // Reads the file when there is one; missing children leave the values unchanged.
  void Read();
  // Rewrites the whole file from the six values; nothing in a fork run.
  void Write(bool forkRun);
  // Clears the resumed flag and, outside a fork run, removes the file.
  void Delete(bool forkRun);

 private:
  std::mutex m_writeLock;
};
