// The file operations whose rules are the same everywhere, over the primitives each platform
// answers (file_ops_posix, file_ops_win).
#include "platform/file_ops.h"

#include "platform/interrupt.h"
#include "platform/last_error.h"

namespace platform {
namespace {

// Unpredictable names rarely meet; a hundred taken in a row means someone is guessing.
constexpr int kSiblingAttempts = 100;

}  // namespace

bool WithFreshSibling(const std::string& to, const std::function<bool(const std::string&)>& make) {
  for (int attempt = 0; attempt < kSiblingAttempts; ++attempt) {
    std::optional<std::string> sibling = RandomSibling(to);
    if (!sibling) return false;
    if (make(*sibling)) return true;
    if (!IsNameTaken(GetLastError())) return false;
  }
  return false;  // the last error says that the name was taken
}

// One tree walk removes trees, in a run as in its interruption: it deletes only what opens as
// itself, so a link goes as a link and what it points to stays.
bool RemoveTree(const std::string& path) { return RemoveTreeSignalSafe(path.c_str()); }

bool ReplaceWithLinkOrCopy(const std::string& from, const std::string& to) {
  return WithFreshSibling(to, [&](const std::string& temporary) {
    std::optional<ClaimedFile> claim;  // an interruption removes the new name until the rename
    if (!LinkOrCopyClaimed(from, temporary, claim)) return false;
    if (RenameOver(temporary, to)) return true;
    const std::uint32_t code = GetLastError();
    if (claim) claim->Remove();
    SetLastError(code);
    return false;
  });
}

bool LinkOrCopy(const std::string& from, const std::string& to) {
  std::optional<ClaimedFile> claim;  // an interruption meanwhile takes the work folder anyway
  return LinkOrCopyClaimed(from, to, claim);
}

}  // namespace platform
