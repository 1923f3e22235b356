// The save sequence, the same on every system; file_replace_linux.cpp and
// file_replace_win32.cpp carry out its steps.
#include "platform/file_replace.h"

#include <cstdio>
#include <cstring>

#include "platform/os.h"

namespace pngc::os {
namespace {

constexpr char kPrefix[] = ".pngc-";
constexpr char kSuffix[] = ".tmp";
constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
constexpr std::size_t kSuffixLength = sizeof kSuffix - 1;
constexpr std::size_t kRandomDigits = 16;

bool AllOf(const char* begin, const char* end, const char* digits) {
  if (begin == end) return false;
  for (const char* at = begin; at != end; ++at) {
    if (std::strchr(digits, *at) == nullptr) return false;
  }
  return true;
}

// "PID-N" in decimal, or "wPID-N" in hex: an earlier version's names.
bool IsOlderTag(const char* begin, const char* end) {
  const char* digits = "0123456789";
  if (begin != end && *begin == 'w') {
    ++begin;
    digits = "0123456789abcdef";
  }
  const char* dash = begin;
  while (dash != end && *dash != '-') ++dash;
  return dash != end && AllOf(begin, dash, digits) && AllOf(dash + 1, end, digits);
}

// Pieces smaller than this are gathered into one block before they are
// written: a PNG of many small chunks costs a few large writes.
constexpr std::size_t kGather = std::size_t{1} << 20;

// Writes the pieces in order, the small ones gathered in `block`.
SystemError WritePieces(SaveFiles& files, const ByteRange* pieces, std::size_t count,
                        unsigned char* block) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const ByteRange& piece = pieces[i];
    if (used + piece.size <= kGather) {
      if (piece.size > 0) std::memcpy(block + used, piece.data, piece.size);
      used += piece.size;
      continue;
    }
    if (used > 0) {
      if (const SystemError error = files.Write(block, used)) return error;
    }
    used = 0;
    if (piece.size >= kGather / 2) {
      if (const SystemError error = files.Write(piece.data, piece.size)) return error;
    } else {
      std::memcpy(block, piece.data, piece.size);
      used = piece.size;
    }
  }
  return used > 0 ? files.Write(block, used) : 0;
}

SaveResult Save(const char* path, const ByteRange* pieces, std::size_t count, bool check_only) {
  SaveResult result;
  bool pieces_ok = pieces != nullptr || count == 0;
  for (std::size_t i = 0; pieces_ok && i < count; ++i)
    pieces_ok = pieces[i].data != nullptr || pieces[i].size == 0;
  if (path == nullptr || *path == '\0' || !pieces_ok) {
    result = {kBadArgumentError, SaveStep::kOpenTarget};
    return result;
  }
  // Everything that allocates happens here, before any file exists.
  const std::unique_ptr<SaveFiles> files = NewSaveFiles();
  // A small file needs no more block than its own size.
  std::size_t total = 0;
  for (std::size_t i = 0; i < count && total < kGather; ++i) total += pieces[i].size;
  const std::unique_ptr<unsigned char[]> block(
      check_only ? nullptr : new unsigned char[total < kGather ? total + 1 : kGather]);
  const auto step = [&result](SaveStep where, SystemError error) {
    if (result.ok() && error != 0) result = {error, where};
    return result.ok();
  };
  const auto injected = [](Call call) { return Injected(call) ? kInjectedError : 0; };

  if (!step(SaveStep::kOpenTarget, files->OpenTarget(path)) ||
      !step(SaveStep::kOpenFolder, files->OpenFolder())) {
    return result;
  }
  if (!check_only) files->RemoveAbandonedTemporaries();
  if (!step(SaveStep::kCreateTemporary, injected(Call::kCreateFile)) ||
      !step(SaveStep::kCreateTemporary, files->CreateTemporary()) ||
      !step(SaveStep::kKeepAttributes, files->PrepareTemporary())) {
    return result;
  }
  if (!check_only && (!step(SaveStep::kWrite, injected(Call::kWriteFile)) ||
                      !step(SaveStep::kWrite, WritePieces(*files, pieces, count, block.get())))) {
    return result;
  }
  if (!step(SaveStep::kKeepAttributes, injected(Call::kKeepAttributes)) ||
      !step(SaveStep::kKeepAttributes, files->KeepAttributes()) || check_only) {
    return result;  // a check drops its temporary file here
  }
  if (step(SaveStep::kWrite, injected(Call::kFlushFile)) &&
      step(SaveStep::kWrite, files->Flush()) &&
      step(SaveStep::kPutInPlace, injected(Call::kReplaceFile)) &&
      step(SaveStep::kPutInPlace, files->CheckUnchanged()) &&
      step(SaveStep::kPutInPlace, files->PutInPlace())) {
    files->FlushFolder();  // the new content is in place already
  }
  return result;
}

}  // namespace

void TemporaryName(char (&name)[kTemporaryNameSize]) {
  std::snprintf(name, sizeof name, "%s%016llx%s", kPrefix,
                static_cast<unsigned long long>(RandomBits()), kSuffix);
}

TemporaryKind KindOfTemporary(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length < kPrefixLength + kSuffixLength ||
      std::strcmp(name + length - kSuffixLength, kSuffix) != 0) {
    return TemporaryKind::kNone;
  }
  const char* end = name + length - kSuffixLength;
  if (std::strncmp(name, kPrefix, kPrefixLength) == 0 &&
      static_cast<std::size_t>(end - name) == kPrefixLength + kRandomDigits &&
      AllOf(name + kPrefixLength, end, "0123456789abcdef")) {
    return TemporaryKind::kCurrent;
  }
  // An earlier version's: the tag after the last ".pngc-", which may follow
  // the saved file's own name.
  const char* tag = nullptr;
  for (const char* at = std::strstr(name, kPrefix); at != nullptr;
       at = std::strstr(at + 1, kPrefix)) {
    tag = at;
  }
  return tag != nullptr && IsOlderTag(tag + kPrefixLength, end) ? TemporaryKind::kOlder
                                                                : TemporaryKind::kNone;
}

SaveResult ReplaceFileContent(const char* path, const ByteRange* pieces, std::size_t count) {
  return Save(path, pieces, count, false);
}

SaveResult ReplaceFileContent(const char* path, const void* data, std::size_t size) {
  const ByteRange piece = {data, size};
  return Save(path, &piece, 1, false);
}

SaveResult CheckFileReplace(const char* path) { return Save(path, nullptr, 0, true); }

}  // namespace pngc::os
