// Where the server may put a downloaded file: inside the cache folder only.
#include "actions/download_target.h"

#include <gtest/gtest.h>

namespace {

constexpr wchar_t kCache[] = L"C:\\users\\u\\Temp\\VI Vadavura\\VL Renova\\Tool 3\\Cache\\";

std::optional<std::wstring> Target(const wchar_t* relative, const wchar_t* name) {
  return DownloadTargetFolder(kCache, relative, name);
}

}  // namespace

TEST(DownloadTarget, FoldersBelowTheCacheFolderAreTakenAsTheServerNamesThem) {
  EXPECT_EQ(Target(L"", L"setup.exe"), std::wstring(kCache));
  EXPECT_EQ(Target(L"data", L"extra.txt"), std::wstring(kCache) + L"data\\");
  EXPECT_EQ(Target(L"sub\\dir", L"a.dll"), std::wstring(kCache) + L"sub\\dir\\");
  EXPECT_EQ(Target(L"sub/dir", L"a.dll"), std::wstring(kCache) + L"sub/dir\\");
  // One separator may end the folder; the doubled one it gives is harmless.
  EXPECT_EQ(Target(L"data\\", L"x"), std::wstring(kCache) + L"data\\\\");
  EXPECT_EQ(Target(L"v1.2", L".hidden"), std::wstring(kCache) + L"v1.2\\");
  EXPECT_EQ(Target(L"console", L"nullable.txt"), std::wstring(kCache) + L"console\\");
}

TEST(DownloadTarget, EveryWayOutOfTheCacheFolderIsRefused) {
  const struct {
    const wchar_t* relative;
    const wchar_t* name;
  } refused[] = {
      {L"..", L"setup.exe"},
      {L"..\\..\\..\\Windows", L"setup.exe"},
      {L"data\\..\\..", L"setup.exe"},
      {L"", L".."},
      {L"", L"..\\setup.exe"},
      {L"", L"../setup.exe"},
      {L"C:\\Windows", L"setup.exe"},
      {L"C:", L"setup.exe"},
      {L"", L"C:setup.exe"},
      {L"\\\\server\\share", L"setup.exe"},
      {L"\\Windows", L"setup.exe"},
      {L"/Windows", L"setup.exe"},
      {L"data\\\\x", L"setup.exe"},  // an empty level
      {L"", L"setup.exe:payload"},   // an alternate data stream
      {L"data:x", L"setup.exe"},
      {L"", L"CON"},
      {L"", L"nul.txt"},
      {L"", L"Com1"},
      {L"lpt9", L"x.log"},
      {L"AUX.dir", L"x"},
      {L"", L"setup.exe."},
      {L"", L"setup.exe "},
      {L"data.", L"x"},
      {L"data ", L"x"},
      {L"", L""},
      {L"", L"a\\b"},
      {L"", L"a<b"},
      {L"",
       L"a\x01"
       L"b"},
      {L"da?ta", L"x"},
  };
  for (const auto& target : refused) {
    EXPECT_FALSE(Target(target.relative, target.name).has_value())
        << testing::PrintToString(std::wstring(target.relative)) << " "
        << testing::PrintToString(std::wstring(target.name));
  }
}

TEST(DownloadTarget, PathComponentsThatNameAPlainFile) {
  for (const wchar_t* plain : {L"a", L"setup.exe", L".config", L"COM10", L"LPT", L"CONSOLE.txt", L"a b"}) {
    EXPECT_TRUE(IsPlainPathComponent(plain)) << testing::PrintToString(std::wstring(plain));
  }
  for (const wchar_t* device :
       {L"CON", L"con.txt", L"PRN", L"AUX", L"NUL", L"COM0", L"COM9", L"LPT1", L"CONIN$", L"COM\u00b9"}) {
    EXPECT_FALSE(IsPlainPathComponent(device)) << testing::PrintToString(std::wstring(device));
  }
}

// A program a post action starts: a path below the installation folder.
TEST(PathInsideFolder, RelativePathsBelowTheFolderAndNothingElse) {
  const std::wstring folder = L"C:\\Program Files\\Tool\\";
  EXPECT_EQ(PathInsideFolder(folder, L"Tool.exe"), folder + L"Tool.exe");
  EXPECT_EQ(PathInsideFolder(folder, L"bin\\helper.exe"), folder + L"bin\\helper.exe");
  EXPECT_EQ(PathInsideFolder(folder, L"bin/helper.exe"), folder + L"bin/helper.exe");
  for (const wchar_t* refused :
       {L"", L"..\\Other\\x.exe", L"bin\\..\\..\\x.exe", L"../x.exe", L"C:\\Windows\\System32\\cmd.exe", L"C:cmd.exe",
        L"\\\\server\\share\\x.exe", L"\\Windows\\x.exe", L"/x.exe", L"bin\\", L"bin\\\\x.exe", L"x.exe:stream", L"CON",
        L"bin\\nul.exe", L"x.exe.", L"x.exe ", L"a|b.exe", L"\\\\?\\C:\\x.exe"}) {
    EXPECT_EQ(PathInsideFolder(folder, refused), std::nullopt) << testing::PrintToString(std::wstring(refused));
  }
  EXPECT_EQ(PathInsideFolder(L"", L"x.exe"), std::nullopt) << "no folder, nothing inside it";
}
