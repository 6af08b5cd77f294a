#include <gtest/gtest.h>

#include "manager/InstallLocation.h"
#include "manager/QevMgr.h"
#include "platform/Registry.h"
#include "platform/ResourceBundle.h"
#include "platform/TextConv.h"
#include "reporting/TrackRecord.h"
#include "shell/simpleLog.h"
#include "support/Sandbox.h"
#include "system/SystemInfo.h"

namespace {

class LoadLocalXmlTest : public ::testing::Test {
 protected:
  qevtest::Sandbox box;
  plat::ResourceBundle bundle;

  void SetUp() override {
    simpleLog::ResetForTesting();
    simpleLog::Create("cvQEV.log");
    QevMgr::Instance().ResetForTesting();
    TrackRecord::Instance().ResetForTesting();
  }
  void TearDown() override {
    plat::ResourceBundle::SetOwnForTesting(nullptr);
    simpleLog::ResetForTesting();
  }

  bool Load(const std::string& productXml, bool withResource = true) {
    bundle = plat::ResourceBundle();
    if (withResource) bundle.Add({"XML", 106, productXml});
    plat::ResourceBundle::SetOwnForTesting(&bundle);
    return QevMgr::Instance().LoadLocalXml();
  }
  std::string LogText() const { return box.ReadFile("/tmp/Corvane/QEV/cvQEV.log"); }
  bool Logged(const std::string& line) const { return LogText().find(line + "\n") != std::string::npos; }
};

TEST_F(LoadLocalXmlTest, RefusedResources) {
  struct Case {
    bool present;
    std::string bytes;
    const char* line;
  } cases[] = {
      {false, "", "[ERROR] LoadLocalXml, find failed!"},
      {true, "", "[ERROR] LoadLocalXml, size error!"},
      {true, "<Product><ProductID>1</ProductID>", "[ERROR] LoadLocalXml err 3"},
      {true, "<Product><ProductName>\xff\xfe</ProductName></Product>", "[ERROR] LoadLocalXml err 3"},
      {true, "<Other/>", "[ERROR] LoadLocalXml, not find product."},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Load(c.bytes, c.present)) << c.line;
    EXPECT_TRUE(Logged(c.line)) << c.line << "\n" << LogText();
  }
}

TEST_F(LoadLocalXmlTest, FollowUpStepsFillFoldersRegistryAndTrackRecord) {
  ASSERT_TRUE(Load(R"(<?xml version="1.0" encoding="UTF-8"?>
<Product><ProductBrand>Corvane</ProductBrand><ProductID>5037</ProductID><AppID>lumen_web</AppID>
<Channel>web_a</Channel><SceneCode>scene9</SceneCode><ServerHost>http://p.example</ServerHost>
<Dependent><item><ProductID>10819</ProductID><Url_Down>http://d/1</Url_Down><ForceInstall>false</ForceInstall></item>
<item><ProductID>44</ProductID></item></Dependent></Product>)"));
  QevMgr& mgr = QevMgr::Instance();

  // One drive (the sandbox root, the system drive): packages go to the common documents folder.
  EXPECT_EQ(mgr.m_strConfigFolder, box.Path("/var/cache/Corvane/"));
  EXPECT_EQ(mgr.m_runConfig.fileName, box.Path("/var/cache/Corvane/QEV_DOWNTASK_5037.xml"));
  EXPECT_TRUE(Logged("[INFO] config folder=[" + mgr.m_strConfigFolder + "]."));
  EXPECT_TRUE(Logged("[INFO] LoadLocalXml, dependent.item pid=[10819]."));
  EXPECT_TRUE(Logged("[INFO] LoadLocalXml, dependent.item pid=[44]."));

  EXPECT_EQ(plat::Registry::ReadString(plat::Hive::LocalMachine, plat::RegView::View32, L"Software\\Brenox\\", L"lumen_web"),
            std::optional<std::wstring>(L"web_a"));
  EXPECT_EQ(plat::Registry::ReadString(plat::Hive::LocalMachine, plat::RegView::View32, L"Software\\Brenox\\", L""),
            std::optional<std::wstring>(L"web_a"));

  TrackRecord& track = TrackRecord::Instance();
  EXPECT_EQ(track.PlatformHost(), L"http://p.example/");
  EXPECT_EQ(track.Get("product_id"), std::optional<std::string>("5037"));
  EXPECT_EQ(track.Get("channel"), std::optional<std::string>("web_a"));
  EXPECT_EQ(track.Get("defchannel"), std::optional<std::string>("web_a"));
  EXPECT_EQ(track.Get("scene_code"), std::optional<std::string>("scene9"));
  const std::string sign = track.Get("client_sign").value_or("");
  EXPECT_EQ(sign.size(), 39u);
  EXPECT_EQ(plat::Utf8ToWide(sign), GetClientSign(L"Corvane"));  // stored, so stable
  const auto bound = track.BoundTasks();
  ASSERT_EQ(bound.size(), 1u);
  EXPECT_EQ(bound.at(10819).forceInstall, 0);
}

TEST_F(LoadLocalXmlTest, ChannelRecordKeepsAnExistingDefaultAndFallsBackToProductId) {
  ASSERT_TRUE(plat::Registry::WriteString(plat::Hive::LocalMachine, plat::RegView::View32, L"Software\\Brenox", L"",
                                          L"first_channel"));
  ASSERT_TRUE(Load("<Product><ProductID>5037</ProductID><Channel>second</Channel></Product>"));
  EXPECT_EQ(plat::Registry::ReadString(plat::Hive::LocalMachine, plat::RegView::View32, L"Software\\Brenox", L"5037"),
            std::optional<std::wstring>(L"second"));
  EXPECT_EQ(TrackRecord::Instance().Get("defchannel"), std::optional<std::string>("first_channel"));
}

TEST_F(LoadLocalXmlTest, DefaultInstallFolder) {
  box.WriteFile("/home/keep", "");
  const std::string programFiles = box.Path("/opt/");
  const std::string localAppData = GetUserLocalAppData();
  struct Case {
    std::string custom;
    std::string expected;
  } cases[] = {
      {"", programFiles},
      {"%localappdata%", localAppData},
      {"%LocalAppData%", localAppData},
      {box.Path("/home/Apps"), box.Path("/home/Apps/")},
      {"/elsewhere/not/a/drive/", programFiles},  // outside every drive of the sandbox
      {"relative/path", programFiles},
  };
  for (const Case& c : cases) {
    QevMgr::Instance().ResetForTesting();
    ASSERT_TRUE(Load("<Product><ProductID>1</ProductID><CustomInstallPath>" + c.custom +
                     "</CustomInstallPath></Product>"));
    EXPECT_EQ(QevMgr::Instance().m_strDefaultInstallFolder, c.expected) << c.custom;
  }
}

TEST(InstallLocation, RootInFrontOfTheBrandFolder) {
  struct Case {
    const wchar_t *path, *brand, *expected;
  } cases[] = {
      {L"/opt/Corvane/Lumen/", L"Corvane", L"/opt/"},
      {L"/data/apps/Corvane", L"Corvane", L"/data/apps/"},
      {L"/opt/CorvaneX/Lumen/", L"Corvane", L""},
      {L"/opt/Lumen/", L"Corvane", L""},
      {L"/opt/Corvane/", L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(InstallRootFromInstalledPath(c.path, c.brand), c.expected) << c.path;
}

}  // namespace
