// The command-line host's view of a file, its texts, character sets and
// reporting: what every command shares.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <new>
#include <set>
#include <thread>

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

// The lines a file's work says, kept while other files' work runs.
struct Lines {
  std::string out, err;
};
thread_local Lines* t_lines = nullptr;

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
    if (kind == pngc::ChunkKind::kInternationalText && chunk.complete) {
      pngc::InternationalText read = pngc::ReadInternationalText(image, chunk);
      TextChunk text;
      text.kind = kind;
      text.keyword = std::move(read.keyword);
      text.text = std::move(read.text);
      text.language = std::move(read.language);
      text.translated_keyword = std::move(read.translated_keyword);
      text.compressed = read.compressed;
      text.readable = read.readable;
      text.chunk = chunk;
      file->texts.push_back(std::move(text));
    }
    if (kind != pngc::ChunkKind::kText && kind != pngc::ChunkKind::kCompressedText) continue;
    TextChunk text;
    text.kind = kind;
    text.chunk = chunk;
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
}

// True when `charset` is one of `names`, compared in lower case without
// "-" and "_" ("Shift_JIS" is "shiftjis").
bool NamedAmong(const std::string& charset, std::initializer_list<const char*> names) {
  std::string name;
  for (const char c : charset) {
    if (c != '-' && c != '_')
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return std::any_of(names.begin(), names.end(),
                     [&name](const char* known) { return name == known; });
}

// Sizes of files not yet read count against this many bytes in memory.
constexpr std::uint64_t kFilesInMemory = std::uint64_t{256} << 20;

}  // namespace

void Report(const std::string& name, const std::string& cause) {
  const std::string line = name + ": " + cause + "\n";
  if (t_lines != nullptr) {
    t_lines->err += line;
  } else {
    std::fputs(line.c_str(), stderr);
  }
}

void Say(const std::string& line) {
  if (t_lines != nullptr) {
    t_lines->out += line + "\n";
  } else {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);  // keeps the order with error lines on a terminal
  }
}

int ForEachFile(const std::vector<std::string>& files, std::size_t jobs,
                const std::function<int(const std::string& path)>& work) {
  if (jobs <= 1 || files.size() <= 1) {
    int status = kExitOk;
    for (const std::string& path : files) status = std::max(status, work(path));
    return status;
  }
  struct Done {
    bool done = false;
    int status = kExitOk;
    Lines lines;
  };
  std::vector<Done> results(files.size());
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t in_memory = 0;
  std::size_t next = 0;
  const auto worker = [&] {
    for (;;) {
      std::size_t index;
      std::uint64_t size = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (next == files.size()) return;
        index = next++;
        hostos::FileIdentity identity;
        if (files[index] != "-" && hostos::IdentityOf(files[index], &identity))
          size = identity.size;
        changed.wait(lock, [&] { return in_memory == 0 || in_memory + size <= kFilesInMemory; });
        in_memory += size;
      }
      Lines lines;
      t_lines = &lines;
      int status = kExitFailed;
      try {
        status = work(files[index]);
      } catch (const std::exception&) {
        Report(NameOf(files[index]), "out of memory");
      }
      t_lines = nullptr;
      std::lock_guard<std::mutex> lock(mutex);
      in_memory -= size;
      results[index] = {true, status, std::move(lines)};
      changed.notify_all();
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < std::min(jobs, files.size()); ++i) threads.emplace_back(worker);
  // Each file's lines as soon as those of the files before it are out.
  int status = kExitOk;
  for (std::size_t shown = 0; shown < files.size(); ++shown) {
    Lines lines;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return results[shown].done; });
      status = std::max(status, results[shown].status);
      lines = std::move(results[shown].lines);
    }
    std::fputs(lines.err.c_str(), stderr);
    std::fputs(lines.out.c_str(), stdout);
    std::fflush(stdout);
  }
  for (std::thread& thread : threads) thread.join();
  return status;
}

bool ExpandFiles(const CliOptions& options, std::vector<std::string>* files) {
  files->clear();
  bool ok = true;
  for (const std::string& path : options.files) {
    if (path == "-" || !hostos::IsFolder(path)) {
      files->push_back(path);
      continue;
    }
    if (!options.recursive) {
      Report(path, "is a folder (-r reads the PNG files in it)");
      ok = false;
      continue;
    }
    if (!hostos::FindPngFiles(path, files)) {
      Report(path, "cannot read the folder");
      ok = false;
    }
  }
  // A file named twice (or found again below a folder) is handled once:
  // two saves of one file at a time would undo each other.
  std::set<std::pair<std::uint64_t, std::uint64_t>> seen;
  std::vector<std::string> once;
  for (const std::string& path : *files) {
    hostos::FileIdentity identity;
    if (path != "-" && hostos::IdentityOf(path, &identity) &&
        !seen.insert({identity.device, identity.file}).second) {
      continue;
    }
    once.push_back(path);
  }
  *files = std::move(once);
  return ok;
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

void NoteInternationalTexts(const PngFile& file) {
  const auto count = static_cast<std::size_t>(
      std::count_if(file.texts.begin(), file.texts.end(),
                    [](const TextChunk& text) { return !InCommentText(text); }));
  if (count == 0) return;
  Report(file.name, std::to_string(count) + " iTXt chunk" + (count == 1 ? "" : "s") +
                        " (international text) kept unchanged, not shown");
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
  return NamedAmong(
             charset.empty() ? hostos::TerminalCharset() : charset,
             {"shiftjis", "sjis", "cp932", "ms932", "windows31j", "932", "mskanji", "csshiftjis"})
             ? pngc::kShiftJis
             : pngc::kSingleByte;
}

bool IsLatin1(const std::string& charset) {
  return NamedAmong(charset, {"iso88591", "latin1", "l1", "cp819", "ibm819", "28591", "isoir100"});
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
  Report("pngcomment", "unknown character set '" + options.charset + "'");
  return false;
}
