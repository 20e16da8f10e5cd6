#include "download/transfer_error_curl.h"

#include <cerrno>

#include "platform/error_text.h"

using namespace platform;

std::uint32_t CurlFailureCode(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return 0;
    case CURLE_OPERATION_TIMEDOUT:
      return kErrorInternetTimeout;
    case CURLE_COULDNT_CONNECT:
    case CURLE_REMOTE_ACCESS_DENIED:
      return kErrorInternetCannotConnect;
    case CURLE_REMOTE_FILE_NOT_FOUND:
      return kErrorInternetItemNotFound;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kErrorInternetNameNotResolved;
    case CURLE_URL_MALFORMAT:
      return kErrorInternetInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kErrorInternetUnrecognizedScheme;
    case CURLE_TOO_MANY_REDIRECTS:
      return kErrorHttpRedirectFailed;
    case CURLE_LOGIN_DENIED:
      return kErrorInternetLoginFailure;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_FTP_COULDNT_RETR_FILE:
      return kErrorInternetConnectionAborted;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_HTTP2:
    case CURLE_BAD_CONTENT_ENCODING:
      return kErrorHttpInvalidServerResponse;
    case CURLE_PEER_FAILED_VERIFICATION:
      return kErrorInternetInvalidCa;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      return kErrorInternetSecurityChannelError;
    case CURLE_OUT_OF_MEMORY:
      return ENOMEM;
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_QUOTE_ERROR:
    case CURLE_FTP_PORT_FAILED:
      return kErrorInternetExtendedError;
    default:
      return kErrorInternetInternalError;
  }
}
