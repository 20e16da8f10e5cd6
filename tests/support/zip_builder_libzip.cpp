#include <gtest/gtest.h>
#include <zip.h>

#include "support/zip_builder.h"

namespace testing_support {
namespace {

bool AddMember(zip_t* archive, const ZipMember& member) {
  zip_source_t* source = zip_source_buffer(archive, member.data.data(), member.data.size(), 0);
  if (source == nullptr) return false;
  const zip_int64_t index = zip_file_add(archive, member.name.c_str(), source, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(source);
    return false;
  }
  const zip_int32_t method = member.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
  return zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), method, 0) == 0;
}

}  // namespace

void WriteZip(const std::filesystem::path& path, const std::vector<ZipMember>& members) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(archive, nullptr) << "zip_open error " << error;
  for (const ZipMember& member : members) {
    if (!AddMember(archive, member)) {
      ADD_FAILURE() << "cannot add " << member.name << ": " << zip_strerror(archive);
      zip_discard(archive);
      return;
    }
  }
  // The member buffers must stay alive until here: libzip reads them when it writes the file.
  if (zip_close(archive) != 0) {
    ADD_FAILURE() << "zip_close: " << zip_strerror(archive);
    zip_discard(archive);
  }
}

}  // namespace testing_support
