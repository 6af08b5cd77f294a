#include "shell/SelfVersion.h"

#include <gtest/gtest.h>

#include "platform/ResourceBundle.h"

namespace {

TEST(SelfVersion, FromTheVersionResourceOrTheFallback) {
  struct Case {
    bool present;
    const char* bytes;
    const wchar_t* full;
    const wchar_t* shortForm;
  } cases[] = {
      {true, "4.6.2.118", L"4.6.2.118", L"4.6.2"},
      {true, "0.0.0.0", L"0.0.0.0", L"0.0.0"},
      {true, "4.6.2", L"4.5.14", L"4.5.14"},   // not four numbers
      {true, "", L"4.5.14", L"4.5.14"},
      {false, "", L"4.5.14", L"4.5.14"},
  };
  for (const Case& c : cases) {
    plat::ResourceBundle bundle;
    if (c.present) bundle.Add({"VERSION", 1, c.bytes});
    plat::ResourceBundle::SetOwnForTesting(&bundle);
    EXPECT_EQ(GetSelfVersion(true), c.full) << c.bytes;
    EXPECT_EQ(GetSelfVersion(false), c.shortForm) << c.bytes;
  }
  plat::ResourceBundle::SetOwnForTesting(nullptr);
}

}  // namespace
