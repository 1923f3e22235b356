#include "tools/cli_commands.h"

#include <cstdint>
#include <cstdio>
#include <new>

#include "tools/host_os.h"
#include "tools/version_info.h"

namespace {

using hostos::kMaxBytes;
using hostos::ReadStatus;

void Report(const std::string& name, const std::string& cause) {
  std::fprintf(stderr, "%s: %s\n", name.c_str(), cause.c_str());
}

const char* Cause(ReadStatus status) {
  switch (status) {
    case ReadStatus::kTooLarge: return "too large (over 2 GiB)";
    case ReadStatus::kNoMemory: return "out of memory";
    default: return "cannot read";
  }
}

// Reads FILE and asks the plug-in whether it takes it. Fewer than eight
// bytes are padded with zeros, as IsSupported reads exactly eight.
bool LoadPng(const CliPlugin& plugin, const std::string& path, std::string* image) {
  const ReadStatus status = hostos::ReadFile(path, image);
  if (status != ReadStatus::kOk) {
    Report(path, Cause(status));
    return false;
  }
  char head[8] = {};
  image->copy(head, sizeof head);
  if (plugin.is_supported(head, 0) != kPngcOk) {
    Report(path, "not a PNG file");
    return false;
  }
  return true;
}

// Frees a handle received from the plug-in whatever happens to its copy.
struct LocalBlock {
  const PluginLibrary& library;
  void* handle = nullptr;
  ~LocalBlock() { library.FreeLocalBlock(handle); }
};

const std::uint8_t* Bytes(const std::string& image) {
  return reinterpret_cast<const std::uint8_t*>(image.data());
}

bool ReadComment(const CliPlugin& plugin, const std::string& path, const std::string& image,
                 std::string* comment, std::string* summary) {
  LocalBlock comment_block{plugin.library()}, summary_block{plugin.library()};
  const std::int32_t result = plugin.get_comment(
      0, Bytes(image), static_cast<std::int32_t>(image.size()), &comment_block.handle,
      &summary_block.handle);
  if (result != kPngcOk) {
    Report(path, PngcResultText(result));
    return false;
  }
  try {
    *summary = plugin.library().LocalBlockBytes(summary_block.handle);
    // The text is a C string, as a host reads it; the block may be larger.
    *comment = plugin.library().LocalBlockBytes(comment_block.handle);
    comment->resize(comment->find('\0') == std::string::npos ? comment->size()
                                                               : comment->find('\0'));
  } catch (const std::bad_alloc&) {
    Report(path, "out of memory");
    return false;
  }
  return true;
}

// Why a save of the existing `target` is bound to fail, or "" when it may
// succeed.
std::string WhyNotWritable(const std::string& target) {
  if (!hostos::CanWrite(target)) return "is read-only or not writable by you";
  const std::string folder = hostos::FolderOf(target);
  if (!hostos::CanCreateIn(folder)) return "cannot create a file in " + folder;
  return "";
}

bool WriteText(const CliPlugin& plugin, const std::string& target, const std::string& image,
               const std::string& text) {
  const std::int32_t result = plugin.write_comment(
      0, target.c_str(), Bytes(image), static_cast<std::int32_t>(image.size()),
      text.data(), static_cast<std::int32_t>(text.size()));
  if (result == kPngcOk) return true;
  const std::string folder = hostos::FolderOf(target);
  if (result == kPngcNotSaved && !hostos::CanCreateIn(folder)) {
    Report(target, "cannot create a file in " + folder + ", file left unchanged");
  } else {
    Report(target, PngcResultText(result));
  }
  return false;
}

// The comment text with the platform's line ends: the text-mode standard
// output of Windows turns each LF back into CR LF.
std::string WithPlatformLineEnds(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
}

bool TooLargeText(const std::string& name, const std::string& text) {
  if (text.size() <= kMaxBytes) return false;
  Report(name, "too large (over 2 GiB)");
  return true;
}

int Finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "pngcomment: cannot write standard output\n");
    return kExitFailed;
  }
  return status;
}

}  // namespace

CliPlugin::CliPlugin() {
  // The library beside this program: a host keeps its plug-ins in its own
  // folder, and the current directory must not decide which code runs.
  const std::string folder = hostos::ProgramFolder();
  const std::string path = folder.empty() ? "" : folder + hostos::kLibraryName;
  if (!path.empty()) library_.reset(new PluginLibrary(path.c_str()));
  if (library_ == nullptr || !library_->loaded()) {
    // Installed apart from the program: the system's search decides.
    library_.reset(new PluginLibrary(hostos::kLibraryName));
  }
  if (!library_->loaded()) {
    std::fprintf(stderr, "pngcomment: cannot load the plug-in %s\n",
                 path.empty() ? hostos::kLibraryName : path.c_str());
    return;
  }
  get_info = library_->Get<GetPluginInfoFn>("GetPluginInfo");
  is_supported = library_->Get<IsSupportedFn>("IsSupported");
  get_comment = library_->Get<GetCommentFn>("GetComment");
  write_comment = library_->Get<WriteCommentFn>("WriteComment");
  ok_ = get_info != nullptr && is_supported != nullptr &&
        get_comment != nullptr && write_comment != nullptr;
  if (!ok_) {
    std::fprintf(stderr, "pngcomment: %s is not a pngcomment plug-in\n", library_->Path().c_str());
  }
}

std::string WithCrLfLines(const std::string& text) {
  if (text.find("\r\n") != std::string::npos) return text;
  std::string lines;
  lines.reserve(text.size());
  for (const char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return lines;
}

int RunInfo(const CliPlugin& plugin, const std::vector<std::string>& files) {
  int status = kExitOk;
  bool first = true;
  for (const std::string& file : files) {
    std::string image, comment, summary;
    if (!LoadPng(plugin, file, &image) || !ReadComment(plugin, file, image, &comment, &summary)) {
      status = kExitFailed;
      continue;
    }
    if (files.size() > 1) std::printf("%s%s:\n", first ? "" : "\n", file.c_str());
    first = false;
    const std::string lines = WithPlatformLineEnds(summary);
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::fflush(stdout);  // keeps the order with error lines on a terminal
  }
  return Finish(status);
}

int RunGet(const CliPlugin& plugin, const std::string& file) {
  std::string image, comment, summary;
  if (!LoadPng(plugin, file, &image) || !ReadComment(plugin, file, image, &comment, &summary)) {
    return kExitFailed;
  }
  hostos::SetBinary(stdout);  // the CR LF as the plug-in gives it
  std::fwrite(comment.data(), 1, comment.size(), stdout);
  return Finish(kExitOk);
}

int RunSet(const CliPlugin& plugin, const std::string& file, const std::string& text_file,
           const std::string& out) {
  std::string image, text;
  if (!LoadPng(plugin, file, &image)) return kExitFailed;
  const bool from_stdin = text_file == "-";
  const std::string text_name = from_stdin ? "standard input" : text_file;
  ReadStatus status;
  if (from_stdin) {
    hostos::SetBinary(stdin);  // CR LF and any 0x1A pass as they are
    if (hostos::IsTerminal(stdin)) {
      std::fprintf(stderr, "pngcomment: type the text, then %s\n", hostos::kEndOfInputKey);
    }
    status = hostos::ReadStream(stdin, &text);
  } else {
    status = hostos::ReadFile(text_file, &text);
  }
  if (status != ReadStatus::kOk) {
    Report(text_name, Cause(status));
    return kExitFailed;
  }
  text = WithCrLfLines(text);
  if (TooLargeText(text_name, text)) return kExitFailed;
  const std::string& target = out.empty() ? file : out;
  if (!WriteText(plugin, target, image, text)) return kExitFailed;
  std::printf("%s: written\n", target.c_str());
  return Finish(kExitOk);
}

int RunEdit(const CliPlugin& plugin, const std::string& file) {
  std::string image, comment, summary;
  if (!LoadPng(plugin, file, &image) || !ReadComment(plugin, file, image, &comment, &summary)) {
    return kExitFailed;
  }
  // Edits that could never be saved are not asked for.
  if (const std::string why = WhyNotWritable(file); !why.empty()) {
    Report(file, why + ", not opened for editing");
    return kExitFailed;
  }
  hostos::TempTextFile temp;
  if (!temp.Create(comment)) {
    Report(file, "cannot create a temporary file for the text");
    return kExitFailed;
  }
  const std::string failure = hostos::RunEditor(hostos::EditorCommand(), temp.path());
  if (!failure.empty()) {
    Report(file, failure + ", nothing written");
    return kExitFailed;
  }
  std::string edited;
  const ReadStatus status = hostos::ReadFile(temp.path(), &edited);
  if (status != ReadStatus::kOk) {
    Report(temp.path(), Cause(status));
    return kExitFailed;
  }
  // An editor that only changed the line ends has not changed the comment;
  // rewriting would still re-encode every text chunk.
  if (edited == comment || WithCrLfLines(edited) == comment) {
    std::printf("%s: unchanged\n", file.c_str());
    return Finish(kExitOk);
  }
  edited = WithCrLfLines(edited);
  // The new file is built from the image read before the editor opened: if
  // another program changed the file meanwhile, writing would undo that
  // change. The edited text is kept for the user instead.
  std::string now;
  if (hostos::ReadFile(file, &now) != ReadStatus::kOk || now != image) {
    temp.Keep();
    Report(file, "changed by another program during the edit, nothing written; the edited text is in " +
                     temp.path());
    return kExitFailed;
  }
  if (TooLargeText(file, edited) || !WriteText(plugin, file, image, edited)) return kExitFailed;
  std::printf("%s: written\n", file.c_str());
  return Finish(kExitOk);
}

int RunClear(const CliPlugin& plugin, const std::vector<std::string>& files) {
  int status = kExitOk;
  for (const std::string& file : files) {
    std::string image;
    if (!LoadPng(plugin, file, &image) || !WriteText(plugin, file, image, "")) {
      status = kExitFailed;
      continue;
    }
    std::printf("%s: cleared\n", file.c_str());
    std::fflush(stdout);
  }
  return Finish(status);
}

int RunVersion(const CliPlugin& plugin) {
  // The copy is not limited by the length argument: the buffer must be
  // large enough for any description.
  char description[4096] = {};
  plugin.get_info(1, description, sizeof description);
  std::printf("%s\nplug-in: %s\n", description, plugin.library().Path().c_str());
  const VersionInfo version = ReadVersionInfo(plugin.library().Path());
  if (version.found) {
    const auto quad = [](std::uint32_t ms, std::uint32_t ls) {
      return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
             std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
    };
    std::printf("file version %s (\"%s\"), product version %s (\"%s\")\n",
                quad(version.file_version_ms, version.file_version_ls).c_str(),
                version.file_version.c_str(),
                quad(version.product_version_ms, version.product_version_ls).c_str(),
                version.product_version.c_str());
    std::printf("language 0x%04X, code page %u\n", version.language, version.code_page);
  }
  return Finish(kExitOk);
}
