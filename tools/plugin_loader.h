// Loads the plug-in at run time and looks its exports up by name, as a host
// does: LoadLibraryA / GetProcAddress on Windows, dlopen / dlsym elsewhere.
#ifndef PNGCOMMENT_TOOLS_PLUGIN_LOADER_H
#define PNGCOMMENT_TOOLS_PLUGIN_LOADER_H

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#define HOST_CALL __stdcall
#else
#define HOST_CALL
#endif

// The exports as a host declares them: every argument and result 32 bits on
// Windows, the standard calling convention.
using GetPluginInfoFn = std::int32_t(HOST_CALL*)(std::int32_t index, char* buffer,
                                                 std::int32_t length);
using ConfigurationDlgFn = std::int32_t(HOST_CALL*)(void* window, std::int32_t request);
using IsSupportedFn = std::int32_t(HOST_CALL*)(const char* data, std::uintptr_t unused);
using GetCommentFn = std::int32_t(HOST_CALL*)(std::uintptr_t unused, const std::uint8_t* image,
                                              std::int32_t size, void** comment, void** summary);
using WriteCommentFn = std::int32_t(HOST_CALL*)(std::uintptr_t unused, const char* file_name,
                                                const std::uint8_t* image, std::int32_t size,
                                                const char* comment, std::int32_t length);

class PluginLibrary {
 public:
  explicit PluginLibrary(const char* path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  // The address of an export, or null when the library has none by that name.
  void* Find(const char* name) const;
  // The file the library was loaded from.
  std::string Path() const;
  // Unloads the library; true when the system reported success.
  bool Unload();

  template <typename Fn>
  Fn Get(const char* name) const {
    return reinterpret_cast<Fn>(Find(name));
  }

  // The host's side of the local-memory blocks that GetComment hands over:
  // KERNEL32 on Windows, the stand-ins that the library exports elsewhere.
  // The block's size (0 for a null handle).
  std::size_t LocalBlockSize(void* block) const;
  // A copy of the block's bytes.
  std::string LocalBlockBytes(void* block) const;
  // Frees the block; a null handle is ignored.
  void FreeLocalBlock(void* block) const;

 private:
  void* handle_ = nullptr;
  void* (HOST_CALL* local_lock_)(void*) = nullptr;
  int (HOST_CALL* local_unlock_)(void*) = nullptr;
  void* (HOST_CALL* local_free_)(void*) = nullptr;
  std::size_t (HOST_CALL* local_size_)(void*) = nullptr;
};

#endif
