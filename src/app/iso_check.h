// What orbec reads back from the image that the ISO program wrote, before it is trusted.
#pragma once

#include <string>

// nullptr when the file is an ISO 9660 image: the standard identifier "CD001" of its first
// volume descriptor at byte 32769, and a whole number of 2048-byte sectors. Otherwise a text
// that says why not.
const char* NotAnIsoImage(const std::string& image);

// Whether the image's El Torito boot catalog holds an entry for UEFI firmware (platform 0xEF).
bool HasUefiBootEntry(const std::string& image);
