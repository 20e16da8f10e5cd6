#include "platform/entry_rules.h"

#include "platform/error_text.h"

namespace platform {

std::uint32_t ExistingFolderRefusal(const EntryFacts& facts) {
  switch (facts.kind) {
    case EntryFacts::Kind::kLink:
      return kErrorFolderIsLink;
    case EntryFacts::Kind::kDirectory:
      break;
    default:
      return kErrorNotAFolder;
  }
  if (!facts.own) return kErrorFolderForeignOwner;
  if (facts.others_may_write) return kErrorFolderOthersMayWrite;
  return 0;
}

bool MayShareByLink(const EntryFacts& facts) {
  return facts.kind == EntryFacts::Kind::kRegular && facts.own && !facts.others_may_write &&
         facts.links == 1;
}

}  // namespace platform
