// The system's half of ReplaceFileContent (platform/os.h), which checks the
// arguments first: file_replace_posix.cpp or file_replace_win32.cpp.
#ifndef PNGCOMMENT_PLATFORM_FILE_REPLACE_H
#define PNGCOMMENT_PLATFORM_FILE_REPLACE_H

#include <cstddef>

namespace pngc::os {

// `path` is not empty, and `data` is not null unless `size` is 0.
bool ReplaceChecked(const char* path, const void* data, std::size_t size);

}  // namespace pngc::os

#endif
