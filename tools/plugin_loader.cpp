#include "tools/plugin_loader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

template <typename Fn>
void Resolve(Fn* fn, void* address) {
  *fn = reinterpret_cast<Fn>(address);
}

}  // namespace

PluginLibrary::PluginLibrary(const char* path) {
#ifdef _WIN32
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path));
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto kernel_function = [kernel](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(kernel, name));
  };
  Resolve(&local_lock_, kernel_function("LocalLock"));
  Resolve(&local_unlock_, kernel_function("LocalUnlock"));
  Resolve(&local_free_, kernel_function("LocalFree"));
  Resolve(&local_size_, kernel_function("LocalSize"));
#else
  handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  Resolve(&local_lock_, Find("LocalLock"));
  Resolve(&local_unlock_, Find("LocalUnlock"));
  Resolve(&local_free_, Find("LocalFree"));
  Resolve(&local_size_, Find("LocalSize"));
#endif
}

std::size_t PluginLibrary::LocalBlockSize(void* block) const {
  return block != nullptr && local_size_ != nullptr ? local_size_(block) : 0;
}

std::string PluginLibrary::LocalBlockBytes(void* block) const {
  const std::size_t size = LocalBlockSize(block);
  if (size == 0 || local_lock_ == nullptr) return "";
  const void* bytes = local_lock_(block);
  if (bytes == nullptr) return "";
  std::string copy(static_cast<const char*>(bytes), size);
  local_unlock_(block);
  return copy;
}

void PluginLibrary::FreeLocalBlock(void* block) const {
  if (block != nullptr && local_free_ != nullptr) local_free_(block);
}

PluginLibrary::~PluginLibrary() { Unload(); }

bool PluginLibrary::Unload() {
  if (handle_ == nullptr) return false;
#ifdef _WIN32
  const bool ok = FreeLibrary(static_cast<HMODULE>(handle_)) != 0;
#else
  const bool ok = dlclose(handle_) == 0;
#endif
  handle_ = nullptr;
  return ok;
}

void* PluginLibrary::Find(const char* name) const {
  if (handle_ == nullptr) return nullptr;
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}

std::string PluginLibrary::Path() const {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  GetModuleFileNameA(static_cast<HMODULE>(handle_), path, MAX_PATH);
  return path;
#else
  Dl_info info{};
  void* symbol = Find("GetPluginInfo");
  return symbol != nullptr && dladdr(symbol, &info) != 0 ? info.dli_fname : "";
#endif
}
