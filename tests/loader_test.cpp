#include "platform/host/loader.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/kernel.h"
#include "tests/standin_access.h"
#include "tests/test_support.h"

namespace {

const std::string kStandin = PELMOK_STANDIN_DIR;

class LoaderTest : public ::testing::Test {
 protected:
  void TearDown() override { host::SetLibraryDirectory(std::string()); }
};

TEST_F(LoaderTest, FindsLibrariesWhateverTheCase) {
  host::SetLibraryDirectory(kStandin + "/full");
  // The file is SMARTIO.DLL; both spellings reach the same loaded object.
  HMODULE a = LoadLibraryW(L"SMARTIO.dll");
  HMODULE b = LoadLibraryW(L"smartio.DLL");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_NE(GetProcAddressW(a, L"SIOBackLightOFF"), nullptr);
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_TRUE(FreeLibrary(a));
}

TEST_F(LoaderTest, ErrorCodesAreTheLastFailure) {
  host::SetLibraryDirectory(kStandin + "/smartio-only");
  EXPECT_EQ(LoadLibraryW(L"KEYBDDR.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  HMODULE lib = LoadLibraryW(L"SMARTIO.dll");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(GetProcAddressW(lib, L"SIONoSuchEntry"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // A success leaves the last failure standing.
  EXPECT_NE(GetProcAddressW(lib, L"SIOReadPortB"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  FreeLibrary(lib);
  // Only the one folder is searched, never a path given in the name.
  EXPECT_EQ(LoadLibraryW(L"../full/KEYBDDR.DLL"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(LoaderTest, NothingLoadsFromAnEmptyOrMissingFolder) {
  for (const std::string& dir :
       {kStandin + "/empty", kStandin + "/no-such-folder", std::string()}) {
    host::SetLibraryDirectory(dir);
    EXPECT_EQ(LoadLibraryW(L"SMARTIO.dll"), nullptr) << dir;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) << dir;
  }
}

TEST_F(LoaderTest, VariantsOfOneNameLoadSideBySide) {
  // Two SMARTIO.DLLs from two folders are two objects with their own exports and state.
  host::SetLibraryDirectory(kStandin + "/full");
  HMODULE full = LoadLibraryW(L"SMARTIO.dll");
  host::SetLibraryDirectory(kStandin + "/no-backlight-off");
  HMODULE trimmed = LoadLibraryW(L"SMARTIO.dll");
  ASSERT_NE(full, nullptr);
  ASSERT_NE(trimmed, nullptr);
  EXPECT_NE(full, trimmed);
  EXPECT_NE(GetProcAddressW(full, L"SIOBackLightOFF"), nullptr);
  EXPECT_EQ(GetProcAddressW(trimmed, L"SIOBackLightOFF"), nullptr);
  standin::BoardState* fullState = testsupport::StandinStateOf(full);
  standin::BoardState* trimmedState = testsupport::StandinStateOf(trimmed);
  ASSERT_TRUE(fullState && trimmedState);
  EXPECT_NE(fullState, trimmedState);
  FreeLibrary(trimmed);
  FreeLibrary(full);
}

}  // namespace
