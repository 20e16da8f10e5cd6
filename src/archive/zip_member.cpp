#include "archive/zip_member.h"

bool ZipMemberNameMatches(std::string_view member, std::string_view wanted) {
  if (member.size() != wanted.size()) return false;
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  for (std::size_t i = 0; i < member.size(); ++i) {
    if (lower(member[i]) != lower(wanted[i])) return false;
  }
  return true;
}
