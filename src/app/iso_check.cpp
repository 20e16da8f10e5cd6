#include "app/iso_check.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

constexpr std::streamoff kSectorSize = 2048;
constexpr std::streamoff kFirstDescriptorSector = 16;
// Volume descriptors end with a terminator; no image needs more than a few.
constexpr std::streamoff kDescriptorLimit = 32;
constexpr unsigned char kBootRecord = 0;
constexpr unsigned char kTerminator = 255;
constexpr char kStandardIdentifier[] = "CD001";
// The boot system identifier of an El Torito boot record, as its bytes stand on the disk.
constexpr char kElTorito[] = {'E', 'L', ' ', 'T', 'O', 'R', 'I', 'T', 'O', ' ', 'S', 'P',
                              'E', 'C', 'I', 'F', 'I', 'C', 'A', 'T', 'I', 'O', 'N'};
constexpr std::size_t kCatalogPointerOffset = 0x47;
constexpr std::size_t kCatalogEntrySize = 32;
constexpr unsigned char kValidationEntry = 0x01;
constexpr unsigned char kSectionHeader = 0x90;
constexpr unsigned char kLastSectionHeader = 0x91;
constexpr unsigned char kPlatformUefi = 0xef;

using Sector = unsigned char[kSectorSize];

std::ifstream OpenImage(const std::string& image, std::ios::openmode extra = {}) {
  // The path is UTF-8; a std::string alone would be taken in the ANSI code page on Windows.
  return std::ifstream(std::filesystem::path(std::u8string(image.begin(), image.end())),
                       std::ios::binary | extra);
}

bool ReadSector(std::ifstream& file, std::streamoff sector, Sector& bytes) {
  return file.seekg(sector * kSectorSize) && file.read(reinterpret_cast<char*>(bytes), kSectorSize);
}

std::uint32_t Little32(const unsigned char* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The sector of the boot catalog that the El Torito boot record points at.
std::optional<std::uint32_t> BootCatalogSector(std::ifstream& file) {
  Sector descriptor;
  for (std::streamoff sector = kFirstDescriptorSector;
       sector < kFirstDescriptorSector + kDescriptorLimit; ++sector) {
    if (!ReadSector(file, sector, descriptor) ||
        std::memcmp(descriptor + 1, kStandardIdentifier, 5) != 0 || descriptor[0] == kTerminator) {
      break;
    }
    if (descriptor[0] == kBootRecord &&
        std::memcmp(descriptor + 7, kElTorito, sizeof kElTorito) == 0) {
      return Little32(descriptor + kCatalogPointerOffset);
    }
  }
  return std::nullopt;
}

}  // namespace

const char* NotAnIsoImage(const std::string& image) {
  std::ifstream file = OpenImage(image, std::ios::ate);
  if (!file) return "the program wrote no image file";
  const std::streamoff size = file.tellg();
  Sector descriptor;
  if (size < (kFirstDescriptorSector + 1) * kSectorSize ||
      !ReadSector(file, kFirstDescriptorSector, descriptor) ||
      std::memcmp(descriptor + 1, kStandardIdentifier, 5) != 0) {
    return "the file has no ISO 9660 volume descriptor";
  }
  if (size % kSectorSize != 0) return "its size is not a whole number of 2048-byte sectors";
  return nullptr;
}

// The catalog: a validation entry (with the platform of the default entry), the default
// entry, then sections, each a header (with its platform and number of entries) and its
// entries, up to the header marked last.
bool HasUefiBootEntry(const std::string& image) {
  std::ifstream file = OpenImage(image);
  Sector catalog;
  const std::optional<std::uint32_t> sector = BootCatalogSector(file);
  if (!sector || !ReadSector(file, *sector, catalog) || catalog[0] != kValidationEntry) {
    return false;
  }
  if (catalog[1] == kPlatformUefi) return true;
  constexpr std::size_t kEntries = kSectorSize / kCatalogEntrySize;
  for (std::size_t entry = 2; entry < kEntries;) {
    const unsigned char* header = catalog + entry * kCatalogEntrySize;
    if (header[0] != kSectionHeader && header[0] != kLastSectionHeader) break;
    const unsigned count = header[2] | header[3] << 8;
    if (header[1] == kPlatformUefi && count > 0) return true;
    if (header[0] == kLastSectionHeader) break;
    entry += 1 + count;
  }
  return false;
}
