// What a run fetches from the download server: base URLs and file names.
#pragma once

#include <string>
#include <string_view>

namespace server {

inline constexpr std::string_view kDistributionPath = "/tools/orbe/1.1/";
inline constexpr std::string_view kProductPath = "/kavero/products/full/OEM/Lumo/current/unix/";
inline constexpr std::string_view kDataPath = "/kavero/products/full/OEM/Lumo/data/";

inline constexpr std::string_view kDistributionArchive = "KaveroLive-SLAX.tar";
inline constexpr std::string_view kDistributionManifest = "KaveroLive-SLAX_manifest.dat";
inline constexpr std::string_view kProductArchive = "linux.intel.libc6.glibc.2.2.tar";
inline constexpr std::string_view kProductManifest = "linux.intel.libc6.glibc.2.2.manifest";
inline constexpr std::string_view kVirusDataArchive = "vdl.zip";
inline constexpr const char* kIdentityArchiveFormat = "ide_%s.zip";

// Base URL of the distribution: the server, no user information.
std::string DistributionBaseUrl();
// Base URLs of the product and the virus data: the account and password as user information.
std::string ProductBaseUrl();
std::string DataBaseUrl();

}  // namespace server
