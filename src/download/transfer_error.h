// The last-error code of a finished transfer, from what the transfer library and the server
// said.
#pragma once

#include <cstdint>

struct TransferResult {
  std::uint32_t failure = 0;  // the code of the library's own failure, 0 when it reported none
  bool http = false;          // the final response came over HTTP(S)
  long status = 0;            // its status code (0 when none was received)
  int local_errno = 0;        // errno of a failed local file operation, 0 if none failed
};

// 0 for a complete transfer of a 200 (or FTP) answer; otherwise the code to leave in the last
// error: 12156 for a failed redirect (whatever status the redirect had), 12028 for HTTP 404,
// 12029 for any other HTTP status, the errno of a failed local write, and the library's
// failure for everything else.
std::uint32_t TransferErrorCode(const TransferResult& result);
