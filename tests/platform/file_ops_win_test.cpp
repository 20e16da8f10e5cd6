#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/file_entry_win.h"
#include "platform/file_ops.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "support/file_probe.h"
#include "support/temp_dir.h"
// After windows.h, whose types it uses.
#include <aclapi.h>

using namespace platform;

TEST(MakePrivateDirectory, OnlyTheUserTheSystemAndTheAdministratorsAreOnTheAccessList) {
  testing_support::TempDir dir;
  ASSERT_TRUE(MakePrivateDirectory(dir / "work"));
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoW(Widen(dir / "work").c_str(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                                    &descriptor),
            0u);
  ASSERT_NE(list, nullptr) << "no access list lets everybody in";
  for (DWORD i = 0; i < list->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* entry = nullptr;
    ASSERT_TRUE(::GetAce(list, i, reinterpret_cast<void**>(&entry)));
    const PSID sid = &entry->SidStart;
    EXPECT_TRUE(IsOwnSid(sid) || ::IsWellKnownSid(sid, WinLocalSystemSid) ||
                ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        << "entry " << i;
  }
  // Wine keeps only what a Unix mode can say: neither the protection nor the administrators.
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!testing_support::UnderWine() &&
      ::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    EXPECT_TRUE((control & SE_DACL_PROTECTED) != 0 && list->AceCount == 3);
  }
  ::LocalFree(descriptor);
}

TEST(TempFolder, APathLongerThanTheLimitIsAFailureWithItsOwnCode) {
  // The system's temporary path comes from TMP first; this process's copy is changed.
  const char* saved = std::getenv("TMP");
  const std::string original = saved ? saved : "";
  const std::string fits = "C:\\" + std::string(255, 'f');  // 259 with the separator added
  ASSERT_EQ(_putenv_s("TMP", fits.c_str()), 0);
  std::string folder;
  EXPECT_TRUE(TempFolder(folder));
  EXPECT_EQ(folder, fits + "\\");
  ASSERT_EQ(_putenv_s("TMP", (fits + "f").c_str()), 0);
  folder = "unchanged";
  EXPECT_FALSE(TempFolder(folder));
  EXPECT_EQ(platform::GetLastError(), 206u) << "ERROR_FILENAME_EXCED_RANGE";
  EXPECT_EQ(folder, "unchanged");
  _putenv_s("TMP", original.c_str());
}
