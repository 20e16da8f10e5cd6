// The trust rules for files and folders that orbec finds on disk, written once for every
// platform. The platform files only ask the system what an entry is and who may change it.
#pragma once

#include <cstdint>

namespace platform {

// What the system tells of one file or folder, asked through a handle that is held open.
struct EntryFacts {
  enum class Kind { kRegular, kDirectory, kLink, kOther };
  Kind kind = Kind::kOther;
  // Owned by the current user (on Windows also by the owner the user's token gives to what it
  // creates, the Administrators group for an elevated administrator).
  bool own = false;
  // Somebody else may change the entry's content: on Linux the group or everybody has write
  // permission; on Windows its access list lets anyone but the user, the system and the
  // administrators write, or it has no access list at all.
  bool others_may_write = false;
  // The number of names (hard links) the file has.
  std::uint64_t links = 0;
};

// The code of the reason an existing folder must not be used as a work or cache folder, 0 when
// it may: a link, a non-folder, a folder of another user, or one that others may write into
// (they could plant files in it while the run trusts its content).
std::uint32_t ExistingFolderRefusal(const EntryFacts& facts);

// Whether a file may be shared with the work folder by a hard link instead of a copy: a
// regular file of the user's own that nobody else may change and that has no other name
// through which somebody could change it later. Anything else is copied, and the copy is what
// is checked and used.
bool MayShareByLink(const EntryFacts& facts);

}  // namespace platform
