#include "verify/verify_exceptions.h"

namespace verify_exceptions {

ve_base::ve_base(std::int32_t code) : std::runtime_error("VerifyTool Exception"), code(code) {}

ve_file::ve_file(std::int32_t code, const std::string& path) : ve_base(code), path(path) {}

std::ostream& ve_file::describe(std::ostream& out) const { return out << *this; }

ve_crypt::ve_crypt(const std::string& message) : ve_base(kCryptFailed), message(message) {}

std::ostream& ve_crypt::describe(std::ostream& out) const { return out << *this; }

ve_badsig::ve_badsig() : ve_base(kBadSignature) {}

std::ostream& ve_badsig::describe(std::ostream& out) const { return out << *this; }

ve_badcert::ve_badcert() : ve_base(kBadCertificate) {}

std::ostream& ve_badcert::describe(std::ostream& out) const { return out << *this; }

std::ostream& operator<<(std::ostream& out, const ve_file& e) {
  return out << "[BADFILE]: " << e.code << ": '" << e.path << "'";
}

std::ostream& operator<<(std::ostream& out, const ve_crypt& e) {
  return out << "[VE_CRYPT] " << e.message << std::endl;
}

std::ostream& operator<<(std::ostream& out, const ve_badsig& e) {
  return out << "[BADSIG]: " << e.code << std::endl;
}

std::ostream& operator<<(std::ostream& out, const ve_badcert& e) {
  return out << "[VE_BADCERT]: " << e.code << std::endl;
}

}  // namespace verify_exceptions
