// The virus data version, read from the "virusDataVersion.txt" member of the virus data zip.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// Reads the first line of the first central-directory entry named "virusDataVersion.txt"
// (whole name, ASCII case ignored), stored or deflated, after its CRC-32 has been checked.
// True with version set; false with version untouched when the archive cannot be read, the
// member is missing, empty, damaged or larger than 16 MiB. At most 64 KiB of it is kept, so an
// archive that inflates to gigabytes costs neither memory nor much time.
bool GetVirusDataVersion(const std::filesystem::path& archive_path, std::string& version);

// Ends the text at the first carriage return or line feed within size bytes by overwriting it
// with a zero byte. Looks at no byte beyond size.
void CutAtLineEnd(char* buffer, std::size_t size);

// False for a version that is unfit to become a file name, a URL path and a program argument:
// one holding "/" or "\", a control character, or one of : * ? " < > |, or one equal to "." or
// "..". Blanks and the empty version are fine.
bool IsAcceptableVersion(const std::string& version);
