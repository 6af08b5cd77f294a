#include "shell/SelfVersion.h"

#include "platform/ResourceBundle.h"
#include "platform/TextConv.h"

std::wstring GetSelfVersion(bool withBuild) {
  const plat::Resource* res = plat::ResourceBundle::Own().Find("VERSION", plat::kResVersion);
  int v[4] = {0, 0, 0, 0};
  if (!res || !plat::ParseVersionResource(res->bytes, v)) return L"4.5.14";
  const std::string text = withBuild ? plat::Format("%d.%d.%d.%d", v[0], v[1], v[2], v[3])
                                     : plat::Format("%d.%d.%d", v[0], v[1], v[2]);
  return plat::Utf8ToWide(text);
}
