// Writing the bootable image of the work folder with the ISO program, and moving it to the
// output path.
#pragma once

#include <string>
#include <vector>

#include "platform/console.h"

// The ISO program's arguments after its name: Joliet, Rock Ridge, isolinux no-emulation boot,
// with uefi also a second no-emulation boot entry for UEFI firmware (slax/boot/efiboot.img),
// the image "orbe.iso" in the work folder, the label as application and volume id.
std::vector<std::string> IsoProgramArguments(const std::string& label, int verbosity,
                                             bool uefi);

// Whether the unpacked distribution carries a UEFI boot image: a regular file (not a link or a
// folder) slax/boot/efiboot.img.
bool HasUefiBootImage(const std::string& work_folder);

struct IsoImageOptions {
  bool hybrid = false;  // isohybrid on the image: it then boots from a USB drive too
  // The distribution passed its manifest. Only then may a program it carries be run.
  bool verified_distribution = true;
};

// Runs the ISO program in the work folder, checks that it wrote an ISO 9660 image, and moves
// the image to the output path. Prints its own failure messages.
bool CreateIsoImage(const std::string& work_folder, const std::string& output,
                    const std::string& label, int verbosity, const IsoImageOptions& options,
                    platform::Console& console);
