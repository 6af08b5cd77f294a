#include "config/RunConfig.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/Sandbox.h"

namespace {

std::string Doc(const std::string& children) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\r\n" + children + "</config>\r\n";
}

TEST(RunConfig, ResumedByDecimalStatus) {
  qevtest::Sandbox box;
  struct Case {
    const char* status;
    bool resumed;
  } cases[] = {{"1", true}, {"01", true}, {"1 ", true}, {" 1", true}, {"yes", false}, {"", false}, {"2", false}};
  for (const Case& c : cases) {
    box.WriteFile("/cfg/run.xml", Doc(std::string("<Status>") + c.status + "</Status>\r\n"));
    RunConfig rc;
    rc.fileName = box.Path("/cfg/run.xml");
    rc.Read();
    EXPECT_EQ(rc.resumed, c.resumed) << "[" << c.status << "]";
  }
}

TEST(RunConfig, ReadRestoresValuesAndSlashesInstallPath) {
  qevtest::Sandbox box;
  box.WriteFile("/cfg/run.xml", Doc("<Status>1</Status>\r\n<SelectLang>Deutsch</SelectLang>\r\n"
                                    "<InstallPath>/opt/Apps</InstallPath>\r\n<TmpPackagePath>/p/x.bin.~P2S</TmpPackagePath>\r\n"));
  RunConfig rc;
  rc.fileName = box.Path("/cfg/run.xml");
  rc.JoinExp = L"kept";
  rc.Read();
  EXPECT_EQ(rc.SelectLang, L"Deutsch");
  EXPECT_EQ(rc.InstallPath, L"/opt/Apps/");
  EXPECT_EQ(rc.TmpPackagePath, L"/p/x.bin.~P2S");
  EXPECT_EQ(rc.JoinExp, L"kept");  // missing child: unchanged
}

TEST(RunConfig, UnreadableFilesChangeNothing) {
  qevtest::Sandbox box;
  for (const std::string& bytes : {std::string(), std::string("<config><Status>1</config>"), std::string("<other><Status>1</Status></other>")}) {
    box.WriteFile("/cfg/run.xml", bytes);
    RunConfig rc;
    rc.fileName = box.Path("/cfg/run.xml");
    rc.SelectLang = L"English";
    rc.Read();
    EXPECT_FALSE(rc.resumed);
    EXPECT_EQ(rc.SelectLang, L"English");
  }
  RunConfig none;
  none.Read();  // no file name: nothing happens
  EXPECT_FALSE(none.resumed);
}

TEST(RunConfig, WriteFormAndRoundTrip) {
  qevtest::Sandbox box;
  RunConfig rc;
  rc.fileName = box.Path("/cfg/QEV_DOWNTASK_5037.xml");
  std::filesystem::create_directories(box.Path("/cfg"));
  rc.Status = L"1";
  rc.SelectLang = L"中文简体";
  rc.InstallPath = L"/opt/A&B/";
  rc.Write(false);
  EXPECT_EQ(box.ReadFile("/cfg/QEV_DOWNTASK_5037.xml"),
            Doc("<Status>1</Status>\r\n<JoinExp/>\r\n<SelectLang>中文简体</SelectLang>\r\n"
                "<InstallPath>/opt/A&amp;B/</InstallPath>\r\n<AgreeExtInstall/>\r\n<TmpPackagePath/>\r\n"));
  RunConfig back;
  back.fileName = rc.fileName;
  back.Read();
  EXPECT_TRUE(back.resumed);
  EXPECT_EQ(back.SelectLang, L"中文简体");
  EXPECT_EQ(back.InstallPath, L"/opt/A&B/");
}

TEST(RunConfig, ForkRunNeverTouchesTheFile) {
  qevtest::Sandbox box;
  box.WriteFile("/cfg/run.xml", Doc("<Status>1</Status>\r\n"));
  const std::string before = box.ReadFile("/cfg/run.xml");
  RunConfig rc;
  rc.fileName = box.Path("/cfg/run.xml");
  rc.Read();
  rc.SelectLang = L"Deutsch";
  rc.Write(true);
  rc.Delete(true);
  EXPECT_FALSE(rc.resumed);
  EXPECT_EQ(box.ReadFile("/cfg/run.xml"), before);
  rc.Delete(false);
  EXPECT_FALSE(std::filesystem::exists(box.Path("/cfg/run.xml")));
}

}  // namespace
