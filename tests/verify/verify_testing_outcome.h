// What a verification call ends with, as text: "ok", or the error's own description.
#pragma once

#include <functional>
#include <sstream>
#include <string>

#include "verify/verify_exceptions.h"

namespace verify_testing {

inline std::string Outcome(const std::function<void()>& call) {
  try {
    call();
  } catch (const verify_exceptions::ve_base& e) {
    std::ostringstream text;
    e.describe(text);
    return text.str();
  }
  return "ok";
}

inline const char kBadSig[] = "[BADSIG]: 6\n";
inline const char kBadCert[] = "[VE_BADCERT]: 7\n";

inline std::string BadFile(int code, const std::string& path) {
  return "[BADFILE]: " + std::to_string(code) + ": '" + path + "'";
}

inline std::string Crypt(const std::string& message) { return "[VE_CRYPT] " + message + "\n"; }

}  // namespace verify_testing
