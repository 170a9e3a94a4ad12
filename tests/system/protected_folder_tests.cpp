// Folders only administrators change: what their security says, how a link
// on their path is refused, and the product folders of a keyed build.
#include "system/protected_folder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "product/product_folders.h"
#include "support/host_link.h"
#include "support/log_capture.h"
#include "support/scratch.h"
#include "system/file_system.h"

namespace {

using namespace testing_support;

// Wine keeps no security descriptor of a file: it answers every query with a
// default one made from the caller's token, whatever was set. So these tests
// read back the descriptor the updater sets from the text it is made of, not
// from the folder, and check the folder only for what Wine does keep.
TEST(ProtectedFolder, ItsSecurityLetsOnlyAdministratorsAndSystemWriteAndInheritsNothing) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedFolderSddl, SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "the DACL would inherit from the user's folders";

  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
  BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof administrators;
  ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
  EXPECT_TRUE(::EqualSid(owner, administrators)) << "an owner can always change the DACL";

  BOOL present = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl != nullptr);
  const ACCESS_MASK kWrites = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                              FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
  int writers = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    ASSERT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & (kWrites | GENERIC_ALL | GENERIC_WRITE)) == 0) continue;
    ++writers;
    EXPECT_TRUE(::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid))
        << "entry " << i << " lets someone else write";
  }
  EXPECT_EQ(writers, 2);
  ::LocalFree(descriptor);
}

TEST(ProtectedFolder, IsMadeOrTakenOverAndALinkOnItsPathIsRefused) {
  ScratchFolder scratch;
  const std::wstring folder = scratch.path() + L"protected\\";
  EXPECT_TRUE(MakeProtectedFolder(folder));
  EXPECT_TRUE(PathExists(folder));
  // One that is there already is given the security anew.
  EXPECT_TRUE(MakeProtectedFolder(folder));
  EXPECT_EQ(FirstReparsePointOnPath(folder), std::nullopt);

  // A link planted in its place, and a folder below it.
  ScratchFolder elsewhere;
  const std::wstring link = scratch.path() + L"planted";
  if (!MakeHostFolderLink(link, elsewhere.path().substr(0, elsewhere.path().size() - 1))) {
    GTEST_SKIP() << "no host link can be made here";
  }
  EXPECT_EQ(FirstReparsePointOnPath(link + L"\\below\\deeper\\"), link);
  EXPECT_EQ(FirstReparsePointOnPath(link), link);
  for (const std::wstring& refused : {link + L"\\", link + L"\\below\\"}) {
    SCOPED_TRACE(testing::PrintToString(refused));
    LogCapture log;
    EXPECT_FALSE(MakeProtectedFolder(refused));
    EXPECT_EQ(log.CountAt(L"ERR", L"The folder " + refused + L" is refused: " + link + L" is a link to elsewhere"), 1u);
  }
  EXPECT_FALSE(PathExists(elsewhere.path() + L"below")) << "a folder was made through the link";
  if (!::RemoveDirectoryW(link.c_str())) ::DeleteFileW(link.c_str());
}

TEST(ProtectedFolder, TheVendorFolderLiesInTheMachinesProgramDataNotInTheUsersEnvironment) {
  const std::optional<std::wstring> vendor = ProtectedVendorFolder();
  ASSERT_TRUE(vendor.has_value());
  // The user's own processes set the environment; the updater must not follow it.
  ScratchFolder decoy;
  const DWORD size = ::GetEnvironmentVariableW(L"ProgramData", nullptr, 0);
  std::wstring before(size, L'\0');
  before.resize(::GetEnvironmentVariableW(L"ProgramData", before.data(), size));
  ::SetEnvironmentVariableW(L"ProgramData", decoy.path().c_str());
  const std::optional<std::wstring> again = ProtectedVendorFolder();
  ::SetEnvironmentVariableW(L"ProgramData", size != 0 ? before.c_str() : nullptr);
  EXPECT_EQ(again, vendor);
  EXPECT_TRUE(vendor->ends_with(L"\\VI Vadavura\\")) << testing::PrintToString(*vendor);
  EXPECT_TRUE(PathExists(*vendor));
}

}  // namespace
