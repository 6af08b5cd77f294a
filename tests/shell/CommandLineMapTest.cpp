#include "shell/CommandLineMap.h"

#include <gtest/gtest.h>

namespace {

using Entries = std::vector<std::pair<std::wstring, std::wstring>>;

TEST(CommandLineMap, KeysValuesAndOverwrites) {
  struct Case {
    std::wstring commandLine;
    Entries expected;
  } cases[] = {
      {L"", {}},
      {L"A=1 B=2", {{L"A", L"1"}, {L"B", L"2"}}},
      {L"A=1 A=2", {{L"A", L"2"}}},
      {L"flag", {{L"flag", L""}}},
      {L"A=x=y", {{L"A", L"x=y"}}},
      {L"=v", {{L"", L"v"}}},
      {L"\"HostLang=中文 简体\" HostVersion=1.0", {{L"HostLang", L"中文 简体"}, {L"HostVersion", L"1.0"}}},
      {L"K=\"a \\\"q\\\" b\"", {{L"K", L"a \"q\" b"}}},
      {L"a=1 A=2", {{L"a", L"1"}, {L"A", L"2"}}},  // keys are case-sensitive
  };
  for (const Case& c : cases) EXPECT_EQ(CommandLineMap::FromCommandLine(c.commandLine).Entries(), c.expected) << c.commandLine;
}

TEST(CommandLineMap, ForkSwitch) {
  struct Case {
    std::vector<std::wstring> args;
    bool fork;
  } cases[] = {
      {{L"OnlyForkInstallDependent=1"}, true},
      {{L"OnlyForkInstallDependent=0", L"OnlyForkInstallDependent=1"}, true},
      {{L"OnlyForkInstallDependent=true"}, false},
      {{L"onlyforkinstalldependent=1"}, false},
      {{L"OnlyForkInstallDependent"}, false},
      {{L"OnlyForkInstallDependent=1 "}, false},
      {{}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsForkRun(CommandLineMap::FromArguments(c.args)), c.fork);
}

TEST(CommandLineMap, HostHwnd) {
  struct Case {
    const wchar_t* text;
    std::optional<uint32_t> hwnd;
  } cases[] = {
      {L"1234", 1234u}, {L"0", 0u}, {L"4294967295", 4294967295u}, {L"4294967296", std::nullopt},
      {L"", std::nullopt}, {L"12a", std::nullopt}, {L"-5", std::nullopt}, {L"0x10", std::nullopt},
      {L"99999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseHostHwnd(c.text), c.hwnd) << c.text;
}

}  // namespace
