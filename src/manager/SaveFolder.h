#pragma once
// Where packages (and the run configuration beside them) are kept. Every folder ends with
// '/'. The brand is the product brand; an empty brand uses no brand level, except in the
// three fall-back folders, which use "Corvane".
#include <string>

// The brand download folder on the fixed drive with the most free space; on the system
// drive that is the common documents folder + brand instead.
std::string LargestFreeDiskFolder(const std::wstring& brand);

// With newFolderMode false an existing "<drive>/<brand>/Download/" is reused first.
std::string GetSaveFolder(const std::wstring& brand, bool newFolderMode);
