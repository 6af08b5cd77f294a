#include "config/ProductConfig.h"

#include <gtest/gtest.h>

namespace {

const wchar_t* kDoc = LR"(<?xml version="1.0" encoding="UTF-8"?>
<Product>
  <ProductBrand>Corvane</ProductBrand>
  <ProductName>Corvane Lumen</ProductName>
  <ProductID>5037</ProductID>
  <ProductID>9999</ProductID>
  <ServerHost>http://host.example</ServerHost>
  <Downurl><OnlyUseLocalUrl>1</OnlyUseLocalUrl><Url_Down>http://cdn/x86.bin</Url_Down></Downurl>
  <Downurl_x64><OnlyUseLocalUrl>0</OnlyUseLocalUrl><Url_Down>http://cdn/x64.bin</Url_Down></Downurl_x64>
  <Downurl_arm64><OnlyUseLocalUrl>1</OnlyUseLocalUrl><Url_Down>http://cdn/arm64.bin</Url_Down></Downurl_arm64>
  <Installurl><Url_Install><![CDATA[http://thanks/?a=1&b=2]]></Url_Install></Installurl>
  <Channel> spaced </Channel>
  <Dependent>
    <item><ProductID>10819</ProductID><Url_Down>http://cdn/dep.bin</Url_Down></item>
    <item><ProductID>777</ProductID></item>
    <item><Url_Down>http://cdn/noid.bin</Url_Down></item>
    <item><ProductID>778</ProductID><Url_Down_arm64>http://cdn/a.bin</Url_Down_arm64><ForceInstall>false</ForceInstall></item>
  </Dependent>
  <Clipboard><Access>1</Access><Keyword>key:</Keyword></Clipboard>
</Product>)";

TEST(ProductConfig, PackageBlocksFollowTheMachine) {
  struct Case {
    bool is64, arm64;
    const wchar_t *x64, *arm;
  } cases[] = {
      {false, false, L"", L""},
      {false, true, L"", L""},  // a 32-bit system never reads the 64-bit blocks
      {true, false, L"http://cdn/x64.bin", L""},
      {true, true, L"http://cdn/x64.bin", L"http://cdn/arm64.bin"},
  };
  for (const Case& c : cases) {
    ProductConfig cfg;
    ASSERT_EQ(ParseProductConfig(kDoc, c.is64, c.arm64, cfg), ProductConfigResult::Ok);
    EXPECT_EQ(cfg.Url_Down, L"http://cdn/x86.bin");
    EXPECT_EQ(cfg.OnlyUseLocalUrl, L"1");
    EXPECT_EQ(cfg.Url_Down_x64, c.x64) << c.is64 << c.arm64;
    EXPECT_EQ(cfg.Url_Down_arm64, c.arm) << c.is64 << c.arm64;
  }
}

TEST(ProductConfig, ValuesDefaultsAndDependents) {
  ProductConfig cfg;
  ASSERT_EQ(ParseProductConfig(kDoc, true, false, cfg), ProductConfigResult::Ok);
  EXPECT_EQ(cfg.ProductID, L"5037");  // the first occurrence counts
  EXPECT_EQ(cfg.Channel, L" spaced ");  // never trimmed
  EXPECT_EQ(cfg.ServerHost, L"http://host.example/");
  EXPECT_EQ(cfg.Url_Install, L"http://thanks/?a=1&b=2");
  EXPECT_EQ(cfg.FoldBottom, L"1");
  EXPECT_EQ(cfg.PrivacyPost, L"1");
  EXPECT_EQ(cfg.IsDelInstaller, L"0");
  EXPECT_EQ(cfg.InstallerStorageDirectory, L"0");
  EXPECT_EQ(cfg.InstallationConfirmation, L"0");
  EXPECT_EQ(cfg.Url_License, kDefaultLicenseUrl);
  EXPECT_EQ(cfg.ClipboardAccess, L"1");
  EXPECT_EQ(cfg.ClipboardKeyword, L"key:");

  ASSERT_EQ(cfg.Dependents.size(), 2u);
  EXPECT_EQ(cfg.Dependents[0].ProductID, L"10819");
  EXPECT_EQ(cfg.Dependents[0].ForceInstall, L"true");  // forced unless said otherwise
  EXPECT_EQ(cfg.Dependents[1].ProductID, L"778");
  EXPECT_EQ(cfg.Dependents[1].ForceInstall, L"false");
  EXPECT_EQ(cfg.DependentIdsSeen, (std::vector<std::wstring>{L"10819", L"777", L"", L"778"}));
}

TEST(ProductConfig, ServerHostSlash) {
  struct Case {
    const wchar_t* element;
    std::wstring expected;
  } cases[] = {
      {L"", kDefaultServerHost},
      {L"<ServerHost>http://a.example</ServerHost>", L"http://a.example/"},
      {L"<ServerHost>http://a.example/</ServerHost>", L"http://a.example/"},
  };
  for (const Case& c : cases) {
    ProductConfig cfg;
    const std::wstring doc = std::wstring(L"<Product>") + c.element + L"</Product>";
    ASSERT_EQ(ParseProductConfig(doc, true, false, cfg), ProductConfigResult::Ok);
    EXPECT_EQ(cfg.ServerHost, c.expected);
  }
}

TEST(ProductConfig, RefusedDocuments) {
  struct Case {
    const wchar_t* doc;
    ProductConfigResult expected;
  } cases[] = {
      {L"", ProductConfigResult::NotWellFormed},
      {L"<Product><ProductID>1</Product>", ProductConfigResult::NotWellFormed},
      {L"<Product/><Other/>", ProductConfigResult::NotWellFormed},
      {L"<Config><ProductID>1</ProductID></Config>", ProductConfigResult::NoProduct},
      {L"<Product/>", ProductConfigResult::Ok},
  };
  for (const Case& c : cases) {
    ProductConfig cfg;
    EXPECT_EQ(ParseProductConfig(c.doc, true, false, cfg), c.expected) << c.doc;
  }
}

}  // namespace
