#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/last_error.h"
#include "platform/paths.h"

using namespace platform;

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
  EXPECT_EQ(GetLastError(), 206u) << "ERROR_FILENAME_EXCED_RANGE";
  EXPECT_EQ(folder, "unchanged");
  _putenv_s("TMP", original.c_str());
}
