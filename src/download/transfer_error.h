// The last-error code of a finished transfer, from what libcurl and the server said.
#pragma once

#include <cstdint>

struct TransferResult {
  int curl_code = 0;    // the CURLcode of the transfer
  bool http = false;    // the final response came over HTTP(S)
  long status = 0;      // its status code (0 when none was received)
  int local_errno = 0;  // errno of a failed local file operation, 0 if none failed
};

// 0 for a complete transfer of a 200 (or FTP) answer; otherwise the code to leave in the last
// error: 12028 for HTTP 404 or a missing FTP file, 12029 for any other HTTP status and for a
// refused connection, 12002 for a time-out, the errno of a failed local write, and the
// matching internet-client code for everything else.
std::uint32_t TransferErrorCode(const TransferResult& result);
