// File and folder operations of the pipeline. Failures leave the reason in the last error
// (an errno value or one of the platform codes of error_text.h), except where noted.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/interrupt.h"

namespace platform {

// Opens the file for appending (creating it empty when missing) and closes it again; an
// existing file is left as it was. false with errno set when it cannot be opened. created
// tells whether this call made the file.
bool CanOpenForAppend(const std::string& path, bool& created);

// Creates a folder that only the current user may enter (Linux: mode 0700; Windows: a
// protected access list for the user, the system and the administrators). A folder of that
// name that already exists is used as it stands, its permissions unchanged, unless
// ExistingFolderRefusal refuses it (a link, a non-folder, a folder of another user or one that
// others may write into); the last error then holds the refusal's code. On Windows a reparse
// point (link, junction) counts as a link, and a folder that the system opens as another
// path too.
bool MakePrivateDirectory(const std::string& path);

// Removes a tree without following symbolic links. A missing tree is fine.
// On Windows a link or junction is removed as itself; an entry that the system opens as
// another path (wine opens a Unix link's target in place of the link, and would delete the
// target) is left in place with its target, and the removal reports false.
bool RemoveTree(const std::string& path);

// RemoveTree, but an entry owned by another user is left alone (false), so that a folder of
// a shared temporary folder that is not ours is never emptied.
bool RemoveOwnTree(const std::string& path);

// Deletes one file; the result may be ignored.
bool DeleteFile(const std::string& path);

// Moves a file to its target, replacing an existing target. Across file systems the data
// are copied into a new file of an unpredictable name beside the target (created
// exclusively, never through a link), synced and renamed over the target, and the source is
// removed; the copy is removed on failure and on interruption. Returns once the data are on
// disk.
bool MoveFileReplace(const std::string& from, const std::string& to);

// Makes `to` (which must not exist) a hard link to the regular file `from` when
// MayShareByLink allows it, otherwise a new file with a copy of its bytes, read through the
// one handle that was checked. Never a symbolic link, never through one.
bool LinkOrCopy(const std::string& from, const std::string& to);

// Puts a link or copy of `from` at `to` atomically: under an unpredictable name beside `to`
// first, then renamed over it, so a reader of `to` sees the old file or the whole new one.
bool ReplaceWithLinkOrCopy(const std::string& from, const std::string& to);

// The primitives the portable operations above are made of.

// A name beside `to` that nobody can predict, ".<name>.<16 random hex digits>"; nothing (last
// error set) when no random number can be had.
std::optional<std::string> RandomSibling(const std::string& to);

// Whether a failure's code says that a name was already taken.
bool IsNameTaken(std::uint32_t code);

// Calls make with fresh unpredictable names beside `to` until it succeeds, or fails for another
// reason than a taken name; false with the last error set when no call succeeded.
bool WithFreshSibling(const std::string& to, const std::function<bool(const std::string&)>& make);

// LinkOrCopy, the new entry claimed in `claim` (removed on interruption) from the moment it
// exists: a copy before its first byte.
bool LinkOrCopyClaimed(const std::string& from, const std::string& to,
                       std::optional<ClaimedFile>& claim);

// Renames `from` over `to`, which it replaces in one step.
bool RenameOver(const std::string& from, const std::string& to);

}  // namespace platform
