// The command-line host's view of a file, its texts, character sets and
// reporting: what every command shares.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <new>

#include "png/text_rendering.h"
#include "stream/memory_error.h"
#include "tools/cli.h"

namespace {

using hostos::ReadStatus;

const char* Cause(ReadStatus status) {
  switch (status) {
    case ReadStatus::kTooLarge:
      return "too large (over 2 GiB)";
    case ReadStatus::kNoMemory:
      return "out of memory";
    default:
      return "cannot read";
  }
}

// A rendering gathered in a string, as the plug-in gathers it in a stream.
class StringTarget : public pngc::TRenderTarget {
 public:
  explicit StringTarget(std::string* out) : out_(out) {}
  bool Put(const std::uint8_t* bytes, std::int32_t count) override {
    if (out_->size() + static_cast<std::size_t>(count) > pngc::kMaxStreamSize) {
      throw pngc::EMemoryError();  // as the plug-in refuses such a text
    }
    out_->append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
    return true;
  }

 private:
  std::string* out_;
};

// The text of a chunk's rendering: after its header line ("[", the
// keyword, "]" CR LF), without the closing CR LF, each CR LF the rendering
// made of an LF an LF again (a CR LF of the text itself rendered as CR CR
// LF, and comes back).
std::string TextOf(const std::string& keyword, const std::string& rendering) {
  const std::size_t start = keyword.size() + 4;
  std::string text;
  if (start >= rendering.size()) return text;
  const std::size_t end = rendering.size() - 2;
  for (std::size_t at = start; at < end; ++at) {
    if (rendering.compare(at, 2, "\r\n") == 0) continue;  // its LF follows
    text += rendering[at];
  }
  return text;
}

// Takes the file's chunks apart with the plug-in's own walk and rendering.
void TakeApart(PngFile* file) {
  const auto size = static_cast<std::int32_t>(file->image.size());
  const std::uint8_t* image = file->image.data();
  pngc::ChunkWalk walk(image, size);
  pngc::PngChunk chunk;
  while (walk.Next(&chunk)) {
    const pngc::ChunkKind kind = pngc::KindOf(chunk);
    if (kind == pngc::ChunkKind::kHeader && !file->has_header &&
        chunk.available >= pngc::kImageHeaderSize) {
      file->has_header = true;
      file->header = pngc::ReadImageHeader(image + chunk.data);
    }
    if (kind != pngc::ChunkKind::kText && kind != pngc::ChunkKind::kCompressedText) continue;
    TextChunk text;
    text.kind = kind;
    const std::uint8_t* data = image + chunk.data;
    const std::uint8_t* end = std::find(data, data + chunk.available, 0);
    text.keyword.assign(reinterpret_cast<const char*>(data), static_cast<std::size_t>(end - data));
    StringTarget target(&text.rendering);
    pngc::RenderChunkData(data, chunk.available, kind == pngc::ChunkKind::kCompressedText, target,
                          pngc::kMaxStreamSize);
    text.text = TextOf(text.keyword, text.rendering);
    file->texts.push_back(std::move(text));
  }
  file->cut_short = walk.tail() < size;
  file->international = pngc::ReadInternationalTexts(image, size);
}

}  // namespace

void Report(const std::string& name, const std::string& cause) {
  std::fprintf(stderr, "%s: %s\n", name.c_str(), cause.c_str());
}

std::string NameOf(const std::string& path) { return path == "-" ? "standard input" : path; }

int Finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "pngcomment: cannot write standard output\n");
    return kExitFailed;
  }
  return status;
}

CliPlugin::CliPlugin(const char* argv0) {
  // The library beside this program: a host keeps its plug-ins in its own
  // folder, and the current directory must not decide which code runs.
  const std::string folder = hostos::ProgramFolder(argv0);
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
  ok_ = get_info != nullptr && is_supported != nullptr && get_comment != nullptr &&
        write_comment != nullptr;
  if (!ok_)
    std::fprintf(stderr, "pngcomment: %s is not a pngcomment plug-in\n", library_->Path().c_str());
}

bool LoadPng(const CliPlugin& plugin, const std::string& path, bool whole, PngFile* file,
             std::string* why) {
  file->name = NameOf(path);
  if (path == "-") hostos::SetBinary(stdin);
  const ReadStatus status = file->image.Load(path, whole);
  if (status != ReadStatus::kOk) {
    *why = Cause(status);
    return false;
  }
  // IsSupported reads exactly eight bytes: fewer are padded with zeros.
  char head[8] = {};
  std::copy(file->image.data(), file->image.data() + std::min<std::size_t>(file->image.size(), 8),
            head);
  if (plugin.is_supported(head, 0) != kPngcOk) {
    *why = "not a PNG file";
    return false;
  }
  try {
    TakeApart(file);
  } catch (const std::bad_alloc&) {  // EMemoryError is one
    *why = "out of memory";
    return false;
  }
  return true;
}

// Says, once per file, that its iTXt chunks are there: the plug-in keeps
// them as they are and does not show them.
void NoteInternationalTexts(const PngFile& file) {
  const std::size_t count = file.international.size();
  if (count == 0) return;
  std::fprintf(stderr, "%s: %zu iTXt chunk%s (international text) kept unchanged, not shown\n",
               file.name.c_str(), count, count == 1 ? "" : "s");
}

std::string Warnings(const PngFile& file) {
  std::string warnings;
  if (file.cut_short) warnings = "cut short by the end of the file: read as far as it goes";
  if (!file.has_header) warnings += std::string(warnings.empty() ? "" : "; ") + "no IHDR chunk";
  return warnings;
}

bool ReadComment(const CliPlugin& plugin, const PngFile& file, std::string* comment,
                 std::string* summary, std::string* why) {
  // Frees a handle received from the plug-in whatever happens to its copy.
  struct LocalBlock {
    const PluginLibrary& library;
    void* handle = nullptr;
    ~LocalBlock() { library.FreeLocalBlock(handle); }
  };
  LocalBlock comment_block{plugin.library()}, summary_block{plugin.library()};
  const std::int32_t result =
      plugin.get_comment(0, file.image.data(), static_cast<std::int32_t>(file.image.size()),
                         &comment_block.handle, &summary_block.handle);
  if (result != kPngcOk) {
    *why = PngcResultText(result);
    return false;
  }
  try {
    *summary = plugin.library().LocalBlockBytes(summary_block.handle);
    // The text is a C string, as a host reads it; the block may be larger.
    *comment = plugin.library().LocalBlockBytes(comment_block.handle);
    comment->resize(std::min(comment->find('\0'), comment->size()));
  } catch (const std::bad_alloc&) {
    *why = "out of memory";
    return false;
  }
  return true;
}

pngc::TextRules RulesOf(const std::string& charset) {
  std::string name;
  for (const char c : charset.empty() ? hostos::TerminalCharset() : charset) {
    if (c != '-' && c != '_')
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  for (const char* shift_jis :
       {"shiftjis", "sjis", "cp932", "ms932", "windows31j", "932", "mskanji", "csshiftjis"}) {
    if (name == shift_jis) return pngc::kShiftJis;
  }
  return pngc::kSingleByte;
}

bool Convert(const std::string& from, const std::string& to, const std::string& text,
             std::string* out, std::string* why, int first_line) {
  std::size_t bad = 0;
  if (hostos::ConvertText(from, to, text, out, &bad)) return true;
  // The line: the first that does not convert on its own.
  int line = first_line;
  for (std::size_t at = 0; at < text.size(); ++line) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string ignored;
    if (!hostos::ConvertText(from, to, text.substr(at, end - at), &ignored, &bad)) break;
    at = end + 1;
  }
  const std::string source = from.empty() ? "this terminal's character set" : from;
  const std::string target = to.empty() ? "this terminal's character set" : to;
  *why = "line " + std::to_string(line) + " holds a character that cannot be converted from " +
         source + " to " + target;
  return false;
}

bool CharsetKnown(const CliOptions& options) {
  if (options.charset.empty() || !hostos::UnknownCharset(options.charset)) return true;
  std::fprintf(stderr, "pngcomment: unknown character set '%s'\n", options.charset.c_str());
  return false;
}
