#include "download/verified_download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/error_text.h"
#include "platform/last_error.h"
#include "support/manifest_writer.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"
#include "support/test_server.h"

using platform::MemoryConsole;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::TestServer;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

const std::string kPki = ORBEC_DEMO_PKI_DIR;

// A manifest over `body`, signed by the demo signer, with the signer and intermediate.
std::string SignedManifest(const std::string& body) {
  testing_support::TestKey key = testing_support::LoadPemKey(kPki + "/signer.key");
  return testing_support::SignedManifest(
             body, testing_support::LoadPemCertificate(kPki + "/signer.crt", key),
             {testing_support::LoadPemCertificate(kPki + "/intermediate.crt", key)})
      .Bytes();
}

std::string Sha1(const fs::path& file) {
  std::string hex;
  for (unsigned char byte : testing_support::Sha1(ReadFileBytes(file))) {
    hex += "0123456789abcdef"[byte >> 4];
    hex += "0123456789abcdef"[byte & 0xF];
  }
  return hex;
}

class VerifiedDownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(srv_ / "base");
    fs::create_directories(dest_);
    WriteFileBytes(srv_ / "base/comp.tar", "component bytes");
    server_ = TestServer::StartHttp(srv_, {.rules = rules_});
    ASSERT_TRUE(server_);
    base_ = server_->url() + "/base/";
  }

  void Publish(const std::string& entry_path, const std::string& checksum) {
    std::string body = "# test manifest\n\"" + entry_path + "\" 1 " + checksum + "\n";
    WriteFileBytes(srv_ / "base/comp.manifest", SignedManifest(body));
  }

  bool Fetch(int verbosity = 1) {
    return DownloadAndVerify(base_, "comp.tar", "comp.manifest", dest_.string(), "comp.tar",
                             verbosity, console_);
  }

  bool NoVerificationFiles() const {
    return !fs::exists(dest_ / "manifest.dat") && !fs::exists(dest_ / "ps.crl") &&
           !fs::exists(dest_ / "ps_rootca.crt");
  }

  TempDir dir_;
  fs::path srv_ = dir_.path() / "srv";
  fs::path dest_ = dir_.path() / "dest";
  fs::path rules_ = dir_.path() / "rules.json";  // the server's faults, none while absent
  std::unique_ptr<TestServer> server_;
  std::string base_;
  MemoryConsole console_;
};

TEST_F(VerifiedDownloadTest, WithoutManifestTheFileIsTakenAsItIs) {
  ASSERT_TRUE(DownloadAndVerify(base_ + "comp.tar", std::nullopt, std::nullopt, dest_.string(),
                                "saved.tar", 1, console_));
  EXPECT_EQ(ReadFileBytes(dest_ / "saved.tar"), "component bytes");
  EXPECT_EQ(console_.out, "");
  EXPECT_TRUE(NoVerificationFiles());
  EXPECT_EQ(server_->RequestLog(), std::vector<std::string>{"GET /base/comp.tar -"});
}

TEST_F(VerifiedDownloadTest, RemoteNamesAreJoinedWithASlashAndEncoded) {
  WriteFileBytes(srv_ / "base/ide_1 2.zip", "ids");
  ASSERT_TRUE(DownloadAndVerify(base_, "ide_1 2.zip", std::nullopt, dest_.string() + "/",
                                "ide_1 2.zip", 0, console_));
  EXPECT_EQ(ReadFileBytes(dest_ / "ide_1 2.zip"), "ids");
  EXPECT_EQ(server_->RequestLog().back(), "GET /base//ide_1%202.zip -");
}

TEST_F(VerifiedDownloadTest, AMissingFileIsReportedOnceAndKeepsItsCode) {
  EXPECT_FALSE(DownloadAndVerify(base_, "none.tar", "comp.manifest", dest_.string(), "none.tar", 1,
                                 console_));
  EXPECT_EQ(console_.err, "Download failed: The file does not exist.\n");
  EXPECT_EQ(platform::GetLastError(), platform::kErrorInternetItemNotFound);
  EXPECT_EQ(server_->RequestLog().size(), 1u);
}

TEST_F(VerifiedDownloadTest, AVerifiedFileLeavesNoVerificationFilesBehind) {
  for (std::string path : {".\\comp.tar", "./comp.tar"}) {
    Publish(path, Sha1(srv_ / "base/comp.tar"));
    console_ = {};
    ASSERT_TRUE(Fetch()) << path << console_.err;
    EXPECT_EQ(console_.out, "Downloading the manifest file...\nIntegrity successfully verified.\n");
    EXPECT_EQ(console_.err, "");
    EXPECT_TRUE(NoVerificationFiles());
  }
}

// The cache: filled by a verified download, used (without downloading the file) while the
// manifest lists its checksum, passed over when its copy does not match.
TEST_F(VerifiedDownloadTest, ACacheServesVerifiedCopiesOnly) {
  Publish(".\\comp.tar", Sha1(srv_ / "base/comp.tar"));
  const fs::path cache = dir_.path() / "cache";
  fs::create_directories(cache);
  auto fetch = [&] {
    fs::remove(dest_ / "comp.tar");
    return DownloadAndVerify(base_, "comp.tar", "comp.manifest", dest_.string(), "comp.tar", 1,
                             console_, cache.string());
  };
  struct Round {
    const char* what;
    std::string cached;  // the cache's copy before the round ("" none)
    bool downloads;
  };
  const Round rounds[] = {
      {"empty cache", "", true},
      {"good copy", "component bytes", false},
      {"one byte changed", "component bytez", true},
  };
  for (const Round& round : rounds) {
    if (!round.cached.empty()) {
      fs::remove(cache / "comp.tar");
      WriteFileBytes(cache / "comp.tar", round.cached);
    }
    const std::size_t before = server_->RequestLog().size();
    ASSERT_TRUE(fetch()) << round.what << console_.err;
    const auto log = server_->RequestLog();
    const bool downloaded =
        std::count(log.begin() + static_cast<long>(before), log.end(), "GET /base//comp.tar -") > 0;
    EXPECT_EQ(downloaded, round.downloads) << round.what;
    EXPECT_EQ(ReadFileBytes(dest_ / "comp.tar"), "component bytes") << round.what;
    EXPECT_FALSE(fs::is_symlink(dest_ / "comp.tar")) << round.what;
    EXPECT_EQ(ReadFileBytes(cache / "comp.tar"), "component bytes") << round.what;
    EXPECT_TRUE(NoVerificationFiles()) << round.what;
  }
  EXPECT_EQ(console_.err, "") << "a stale cache entry is not an error";
  EXPECT_NE(console_.out.find("Found a copy in the cache " + cache.string() +
                              ", checking it...\n"
                              "Downloading the manifest file...\n"
                              "Integrity successfully verified.\n"),
            std::string::npos)
      << console_.out;
  EXPECT_NE(console_.out.find("The cached copy does not match its manifest; downloading...\n"),
            std::string::npos);
}

TEST_F(VerifiedDownloadTest, OnlyTheExactEntryNameMatches) {
  for (std::string path : {"comp.tar", "./COMP.TAR", ".\\sub\\comp.tar"}) {
    Publish(path, Sha1(srv_ / "base/comp.tar"));
    console_ = {};
    EXPECT_FALSE(Fetch()) << path;
    EXPECT_EQ(console_.err,
              "Error: Manifest does not contain the requested file.\n"
              "Error: Manifest does not contain the requested file.\n")
        << path;
    EXPECT_NE(console_.out.find("Retrying the download...\n"), std::string::npos);
  }
}

TEST_F(VerifiedDownloadTest, AChecksumThatDiffersFailsBothPasses) {
  std::string checksum = Sha1(srv_ / "base/comp.tar");
  for (char& c : checksum) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Publish("./comp.tar", std::string(40, '0'));
  EXPECT_FALSE(Fetch(0));
  EXPECT_EQ(console_.out, "");
  EXPECT_EQ(console_.err,
            "Error: File checksum is incorrect.\nError: File checksum is incorrect.\n");
  EXPECT_TRUE(fs::exists(dest_ / "manifest.dat")) << "a failed pass leaves its files to the caller";
}

// Each download is hashed as it arrives: a first download spoiled on the way is fetched
// again, and the retry is checked on its own bytes.
TEST_F(VerifiedDownloadTest, ASpoiledDownloadIsRetriedAndHashedAfresh) {
  Publish("./comp.tar", Sha1(srv_ / "base/comp.tar"));
  WriteFileBytes(rules_, R"({"/base/comp.tar": ["corrupt", "ok"]})");
  ASSERT_TRUE(Fetch(0)) << console_.err;
  EXPECT_EQ(console_.err, "Error: File checksum is incorrect.\n");
  const auto log = server_->RequestLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), "GET /base//comp.tar -"), 2);
  EXPECT_EQ(ReadFileBytes(dest_ / "comp.tar"), "component bytes");
}

TEST_F(VerifiedDownloadTest, ABadSignatureIsDescribedWithAnEmptyLineAfter) {
  Publish("./comp.tar", Sha1(srv_ / "base/comp.tar"));
  std::string manifest = ReadFileBytes(srv_ / "base/comp.manifest");
  manifest[2] = 'X';  // inside the signed comment line
  WriteFileBytes(srv_ / "base/comp.manifest", manifest);
  EXPECT_FALSE(Fetch());
  EXPECT_EQ(console_.err,
            "Manifest verification: [BADSIG]: 6\n\nManifest verification: [BADSIG]: 6\n\n");
}

TEST_F(VerifiedDownloadTest, AMissingManifestIsADownloadFailure) {
  EXPECT_FALSE(Fetch());
  EXPECT_EQ(console_.err,
            "Download failed: The file does not exist.\n"
            "Download failed: The file does not exist.\n");
}

TEST_F(VerifiedDownloadTest, TrustAnchorsThatCannotBeWrittenAreReported) {
  Publish("./comp.tar", Sha1(srv_ / "base/comp.tar"));
  fs::create_directory(dest_ / "ps_rootca.crt");  // a folder where the file should go
  // Opening a folder for writing fails with EISDIR on Linux, with EACCES on Windows.
#ifdef _WIN32
  const std::string reason = "Permission denied";
#else
  const std::string reason = "Is a directory";
#endif
  const std::string message =
      "Failed to save CA certificate to " + dest_.string() + "/ps_rootca.crt: " + reason;
  EXPECT_FALSE(Fetch());
  EXPECT_EQ(console_.err, message + message);
}

}  // namespace
