#include "download/server.h"

#include "deployment.h"

namespace server {
namespace {

// The server URL with "account:password@" put in front of the host.
std::string WithCredentials(std::string_view path) {
  std::string_view url = deployment::kServer;
  std::size_t host = url.find("://") + 3;
  std::string result(url.substr(0, host));
  result.append(deployment::kAccount).append(":").append(deployment::kPassword).append("@");
  result.append(url.substr(host)).append(path);
  return result;
}

}  // namespace

std::string DistributionBaseUrl() {
  return std::string(deployment::kServer).append(kDistributionPath);
}
std::string ProductBaseUrl() { return WithCredentials(kProductPath); }
std::string DataBaseUrl() { return WithCredentials(kDataPath); }

}  // namespace server
