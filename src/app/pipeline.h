// The fixed sequence of steps that makes one image.
#pragma once

#include <optional>
#include <string>

#include "app/pipeline_ops.h"
#include "platform/console.h"

inline constexpr const char* kWorkFolderName = "KaveroBootableAvTempFolder";

// Builds the image at `output` (as typed). `distribution_url` replaces the built-in
// distribution source, unverified. Prints its own messages; true when the image stands at
// the output path.
bool BuildImage(const std::string& output, const std::optional<std::string>& distribution_url,
                int verbosity, PipelineOps& ops, platform::Console& console,
                const ImageOptions& options = {});
