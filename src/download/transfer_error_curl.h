// The internet-client codes of libcurl's results.
#pragma once

#include <curl/curl.h>

#include <cstdint>

// 0 for CURLE_OK; otherwise the code that stands for the failure: 12028 for a missing FTP
// file, 12029 for a refused connection, 12002 for a time-out, and the matching
// internet-client code for everything else.
std::uint32_t CurlFailureCode(CURLcode code);
