// Loads the plug-in at run time and looks its exports up by name, as a host
// does: LoadLibraryA / GetProcAddress on Windows, dlopen / dlsym elsewhere.
#ifndef PNGCOMMENT_TOOLS_PLUGIN_LOADER_H
#define PNGCOMMENT_TOOLS_PLUGIN_LOADER_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "plugin/pngcomment.h"

// The exports as a host calls them, taken from their declarations, so that
// the compiler checks every call against the exports, calling convention
// included.
using GetPluginInfoFn = decltype(&::GetPluginInfo);
using ConfigurationDlgFn = decltype(&::ConfigurationDlg);
using IsSupportedFn = decltype(&::IsSupported);
using GetCommentFn = decltype(&::GetComment);
using WriteCommentFn = decltype(&::WriteComment);

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
  void*(WINAPI* local_lock_)(void*) = nullptr;
  int(WINAPI* local_unlock_)(void*) = nullptr;
  void*(WINAPI* local_free_)(void*) = nullptr;
  std::size_t(WINAPI* local_size_)(void*) = nullptr;
};

#endif
