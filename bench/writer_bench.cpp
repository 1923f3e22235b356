// How the cost of WriteCommentFile grows with the file and with the text.
//
// BM_WriteLargePng: a photo-sized PNG given a new comment of a few KiB. The
// writer walks the chunks and saves every one but the text ones straight
// from the image (IDAT data is never decoded nor copied), so the time should
// double with the file and stay near BM_SaveWriteFloor: the same bytes saved
// with the same durability steps (temporary file, flushed to the disk,
// renamed over the target), which any safe save of that file must pay.
//
// BM_RecogniseReordered: a crafted image of many tEXt chunks that share a
// keyword and a first line, written back in reverse order, so that every
// section is looked up among all the others; beside BM_RecogniseUnedited, the
// same text in file order. Both keep every chunk; the time of each should
// grow as the chunks do (x4 from 10,000 to 40,000), and the reordered one
// stay near the unedited one.
//
// BM_WriteLargeZtxt: a small PNG given a comment that is one zTXt section of
// a long text. The text is cut into lines, joined again and deflated, so the
// time should double with the text and stay near zlib's own one-call deflate
// of the same text at the same level (BM_DeflateFloor). BM_CompressCodec
// times the deflating alone, on 64 MiB.
//
// Each case writes one file in the temporary folder, over and over, as a host
// saving in place does; every file is removed when its case ends.
// scripts/bench-report prints the doubling ratios and the ratio of each case
// to its floor from the same run.
#ifdef PNGC_BENCHMARK_SHIM
#include "bench/benchmark_shim.h"
#else
#include <benchmark/benchmark.h>
#endif

#include <zlib.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/large_png.h"
#include "stream/memory_stream.h"
#include "stream/zlib_codec.h"
#include "tests/support/files.h"
#include "tests/support/png_builder.h"
#include "writer/comment_writer.h"

namespace {

// The files this run has made, so that a run stopped by a failed check
// leaves none behind either.
std::vector<std::string>& ScratchPaths() {
  static std::vector<std::string> paths;
  return paths;
}

void RemoveScratchFiles() {
  for (const std::string& path : ScratchPaths()) std::remove(path.c_str());
}

using pngc::kFromBeginning;
using pngc::TBitMemoryStream;
using pngc::TZlib;
using pngc::bench::kKiB;
using pngc::bench::kMiB;
using pngtest::BytesOf;
using pngtest::Require;
using pngtest::Section;

unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

// A file in the temporary folder, removed with the object. The process id
// in its name keeps runs side by side from writing each other's files.
class ScratchFile {
 public:
  explicit ScratchFile(const char* tag) {
    const std::string name =
        "pngcomment_writer_bench-" + std::to_string(ProcessId()) + "-" + tag + ".png";
    path_ = (std::filesystem::temp_directory_path() / name).string();
    pngtest::g_before_failing = RemoveScratchFiles;  // a run stopped by a failed check
    ScratchPaths().push_back(path_);
    ScratchPaths().push_back(temporary());
  }
  ~ScratchFile() {
    std::remove(path_.c_str());
    std::remove(temporary().c_str());
    auto& paths = ScratchPaths();
    paths.erase(
        std::remove_if(paths.begin(), paths.end(),
                       [this](const std::string& p) { return p == path_ || p == temporary(); }),
        paths.end());
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const char* path() const { return path_.c_str(); }
  // Where the floor writes before renaming (the writer names its own).
  std::string temporary() const { return path_ + ".floor.tmp"; }

 private:
  std::string path_;
};

// ---- The floor's save: what any safe save of the same bytes does.

#ifdef _WIN32
bool SaveDurably(const std::string& temporary, const char* target, const std::uint8_t* data,
                 std::size_t size) {
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  while (ok && size > 0) {
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    ok = WriteFile(file, data, want, &written, nullptr) && written != 0;
    data += written;
    size -= written;
  }
  ok = ok && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  ok = ok &&
       MoveFileExA(temporary.c_str(), target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileA(temporary.c_str());
  return ok;
}
#else
bool SaveDurably(const std::string& temporary, const char* target, const std::uint8_t* data,
                 std::size_t size) {
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) {
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temporary.c_str(), target) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  // The rename is durable only once the folder is flushed too.
  const std::string folder = std::filesystem::path(target).parent_path().string();
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}
#endif

// The bytes saved from where they are, as the writer saves the image.
bool Save(const ScratchFile& file, const std::string& bytes) {
  return SaveDurably(file.temporary(), file.path(), BytesOf(bytes), bytes.size());
}

// ---- Comment texts, and what the writer must make of them.

// The comment text a host would pass for sections whose texts hold no empty
// line and no LF at either end: each section a header line ([keyword] or
// <keyword>), then its lines, every line ending in CR LF.
std::string CommentText(const std::vector<Section>& sections) {
  std::string comment;
  for (const Section& section : sections) {
    const bool z = section.compressed;
    comment += (z ? "<" : "[") + section.keyword + (z ? ">" : "]") + "\r\n";
    for (char byte : section.text) {
      if (byte == '\n') comment += '\r';
      comment += byte;
    }
    comment += "\r\n";
  }
  return comment;
}

// `size` bytes of prose: words from a small vocabulary, with now and then a
// number, in sentences, in lines of 50 to 80 bytes. It deflates about as
// English text does, which numbered lines or one repeated line would not.
// `seed` picks the words.
std::string Prose(std::int64_t size, std::uint32_t seed) {
  static const char* const kWords[] = {
      "the",       "harbour", "light",    "morning", "boats",   "were",         "drawn",
      "up",        "on",      "shingle",  "and",     "a",       "fisherman",    "mended",
      "his",       "nets",    "beside",   "old",     "slipway", "while",        "gulls",
      "circled",   "over",    "tide",     "came",    "in",      "slowly",       "across",
      "mudflats",  "of",      "estuary",  "this",    "print",   "was",          "made",
      "from",      "second",  "negative", "after",   "first",   "had",          "been",
      "damaged",   "by",      "water",    "during",  "flood",   "that",         "winter",
      "colours",   "are",     "close",    "to",      "what",    "photographer", "remembered",
      "though",    "sky",     "is",       "warmer",  "than",    "it",           "seemed",
      "at",        "time",    "with",     "lens",    "stopped", "down",         "exposure",
      "long",      "enough",  "for",      "still",   "surface", "show",         "every",
      "mast",      "quay",    "lamps",    "had",     "not",     "yet",          "gone",
      "out",       "their",   "glow",     "can",     "be",      "seen",         "near",
      "left",      "edge",    "frame",    "scanned", "at",      "high",         "resolution",
      "retouched", "only",    "where",    "dust",    "marked",  "film"};
  constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];
  std::string text;
  text.reserve(static_cast<std::size_t>(size) + 128);
  std::uint32_t state = seed | 1;  // xorshift32 never leaves 0
  auto next = [&state](std::uint32_t bound) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state % bound;
  };
  std::size_t line_start = 0;
  std::size_t line_limit = 50 + next(31);
  bool sentence_start = true;
  while (static_cast<std::int64_t>(text.size()) < size) {
    char word[32];
    int length;
    if (next(16) == 0) {
      length = std::snprintf(word, sizeof word, "%u", 1900 + next(125));
    } else {
      length = std::snprintf(word, sizeof word, "%s", kWords[next(kWordCount)]);
    }
    if (sentence_start)
      word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    sentence_start = false;
    if (text.size() > line_start) {
      if (text.size() - line_start + 1 + static_cast<std::size_t>(length) > line_limit) {
        text.push_back('\n');
        line_start = text.size();
        line_limit = 50 + next(31);
      } else {
        text.push_back(' ');
      }
    }
    text.insert(text.end(), word, word + length);
    const std::uint32_t mark = next(12);
    if (mark == 0) {
      text.push_back(',');
    } else if (mark == 1) {
      text.push_back('.');
      sentence_start = true;
    }
  }
  // Exactly `size` bytes, ending inside a word, not in a separator.
  text.resize(static_cast<std::size_t>(size));
  if (text.back() == '\n' || text.back() == ' ') text.back() = 'x';
  return text;
}

// About `count` lines of prose, 65 bytes long on average.
std::string ProseLines(int count, std::uint32_t seed) { return Prose(count * 66, seed); }

// Checks, outside the clock, that the file at `path` is `original` as the
// writer must rewrite it: every chunk but tEXt and zTXt copied byte for byte
// and in order, and right after IHDR one chunk per section. A case that
// wrote anything else would time other work.
void CheckRewrite(const char* path, const std::string& original,
                  const std::vector<Section>& sections) {
  const std::string written = pngtest::ReadFile(path);
  pngtest::CheckRewrite(BytesOf(written), written.size(), BytesOf(original), original.size(),
                        &sections);
}

bool Write(const ScratchFile& file, const std::string& png, const std::string& comment) {
  return pngc::WriteCommentFile(file.path(), BytesOf(png), static_cast<std::int32_t>(png.size()),
                                comment.data(), static_cast<std::int32_t>(comment.size()))
      .ok();
}

// Writes the comment into `png` as often as the case asks. One untimed call
// first creates the file, so that every timed one replaces it, and checks it.
void TimeWrites(benchmark::State& state, const std::string& png,
                const std::vector<Section>& sections, std::int64_t bytes) {
  const std::string comment = CommentText(sections);
  const ScratchFile file("write");
  Require(Write(file, png, comment), "WriteCommentFile failed");
  CheckRewrite(file.path(), png, sections);
  bool ok = true;
  for (auto _ : state) {
    ok = Write(file, png, comment) && ok;
  }
  Require(ok, "WriteCommentFile failed");
  state.SetBytesProcessed(state.iterations() * bytes);
}

// The same bytes through the floor's save, checked the same way.
void TimeSaves(benchmark::State& state, const std::string& png) {
  const ScratchFile file("floor");
  Require(Save(file, png), "the floor's save failed");
  Require(pngtest::ReadFile(file.path()) == png, "the floor's save wrote other bytes");
  bool ok = true;
  for (auto _ : state) {
    ok = Save(file, png) && ok;
  }
  Require(ok, "the floor's save failed");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(png.size()));
}

// ---- The cases.

// The image of BM_WriteLargePng and its floor: IDATs of 1 MiB, as common
// writers make them, totalling `idat_total`, and old text chunks before and
// after them, all of which the writer drops.
std::string LargePng(std::int64_t idat_total) {
  return pngc::bench::LargePng(kMiB, idat_total, "pngcomment writer benchmark");
}

// A comment as a user edits one: some tEXt and zTXt sections, 5 KiB in all.
std::vector<Section> EditedComment() {
  return {
      {false, "Title", "Harbour at dawn (second print)", ""},
      {false, "Description", ProseLines(24, 1), ""},
      {true, "Note", ProseLines(32, 2), ""},
      {false, "Software", "pngcomment writer benchmark", ""},
      {true, "History", ProseLines(16, 3), ""},
  };
}

// range(0): IDAT bytes in all.
void BM_WriteLargePng(benchmark::State& state) {
  const std::string png = LargePng(state.range(0));
  TimeWrites(state, png, EditedComment(), static_cast<std::int64_t>(png.size()));
}

// range(0): as for BM_WriteLargePng. The writer's output is that image with
// other text chunks of about the same size, so the floor saves the image.
void BM_SaveWriteFloor(benchmark::State& state) { TimeSaves(state, LargePng(state.range(0))); }

// The crafted image of `count` tEXt chunks "K" = "common\n[X]\n<number>",
// and the comment text that shows them, in file order or reversed.
struct Crafted {
  std::string png, comment;
  std::vector<std::string> chunks;  // the chunks, in the order the text shows them
};

Crafted MakeCrafted(int count, bool reversed) {
  Crafted crafted;
  std::vector<std::string> chunks;
  std::string png = pngtest::kSignature + pngtest::Ihdr(1, 1);
  for (int i = 0; i < count; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "common\n[X]\n%06d", i);
    chunks.push_back(pngtest::Text("K", text));
    png += chunks.back();
  }
  crafted.png = png + pngtest::Iend();
  if (reversed) std::reverse(chunks.begin(), chunks.end());
  for (const std::string& chunk : chunks) {
    crafted.comment += "[K]\r\ncommon\r\n[X]\r\n" + chunk.substr(8 + 13, 6) + "\r\n";
  }
  crafted.chunks = std::move(chunks);
  return crafted;
}

// Rewrites the crafted image in memory, the file's I/O aside: the cost of
// recognising the sections. Checked outside the clock: every chunk kept, in
// the text's order.
void TimeRecognition(benchmark::State& state, bool reversed) {
  const Crafted crafted = MakeCrafted(static_cast<int>(state.range(0)), reversed);
  const auto rewrite = [&] {
    TBitMemoryStream comment, output;
    comment.WriteBuffer(crafted.comment.data(), static_cast<std::int32_t>(crafted.comment.size()));
    comment.WriteBuffer("\0\0", 2);
    pngc::RewriteChunks(BytesOf(crafted.png), static_cast<std::int32_t>(crafted.png.size()),
                        &comment, output);
    return std::string(reinterpret_cast<const char*>(output.GetMemory()),
                       static_cast<std::size_t>(output.GetSize()));
  };
  std::string expected = pngtest::kSignature + pngtest::Ihdr(1, 1);
  for (const std::string& chunk : crafted.chunks) expected += chunk;
  Require(rewrite() == expected + pngtest::Iend(), "a crafted section was not kept as its chunk");
  for (auto _ : state) benchmark::DoNotOptimize(rewrite());
}

// range(0): text chunks.
void BM_RecogniseReordered(benchmark::State& state) { TimeRecognition(state, true); }
void BM_RecogniseUnedited(benchmark::State& state) { TimeRecognition(state, false); }

// Making 16 MiB of prose takes a while, and the writer and its floor need
// the same text: each is made once per run.
const std::string& LongProse(std::int64_t size) {
  static std::map<std::int64_t, std::string> texts;
  std::string& text = texts[size];
  if (text.empty()) text = Prose(size, 0x2545F491u);
  return text;
}

// A small image with an old comment, which the long one replaces.
std::string SmallPng() {
  using namespace pngtest;
  std::uint32_t noise = 12345;
  return Png({Ihdr(640, 480), Text("Comment", "An earlier comment."),
              Chunk("IDAT", Noise(4 * kKiB, noise)), Iend()});
}

// range(0): bytes of text, as its zTXt holds it (LF line ends); the comment
// text passed is a little longer, its lines ending in CR LF.
void BM_WriteLargeZtxt(benchmark::State& state) {
  const std::int64_t size = state.range(0);
  TimeWrites(state, SmallPng(), {{true, "Comment", LongProse(size), ""}}, size);
}

// range(0): as for BM_WriteLargeZtxt; zlib's one-call deflate of the same
// text at the writer's level, into a buffer of the bound's size touched
// beforehand.
void BM_DeflateFloor(benchmark::State& state) {
  const std::string& text = LongProse(state.range(0));
  const uLong bound = compressBound(static_cast<uLong>(text.size()));
  std::vector<std::uint8_t> stream(bound);
  uLongf length = bound;
  Require(compress2(stream.data(), &length, BytesOf(text), static_cast<uLong>(text.size()),
                    Z_DEFAULT_COMPRESSION) == Z_OK,
          "compress2 failed");
  for (auto _ : state) {
    length = bound;
    int result = compress2(stream.data(), &length, BytesOf(text), static_cast<uLong>(text.size()),
                           Z_DEFAULT_COMPRESSION);
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// range(0): as for BM_WriteLargeZtxt; the plug-in's codec alone, deflating
// the same text from a stream into a new stream at the writer's level.
void BM_CompressCodec(benchmark::State& state) {
  const std::string& text = LongProse(state.range(0));
  TBitMemoryStream source;
  source.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
  for (auto _ : state) {
    source.Seek(0, kFromBeginning);
    auto stream = std::make_unique<TBitMemoryStream>();
    TZlib codec;
    Require(codec.Compress(source, *stream, Z_DEFAULT_COMPRESSION) == Z_STREAM_END,
            "the codec did not deflate the text whole");
    benchmark::DoNotOptimize(stream->GetMemory());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// Each image size is written 768 MiB in all, each text deflated 32 MiB in
// all: a few iterations of the largest, more of the smaller, and under a
// minute per platform on a shared machine. Flushes to the disk make single
// writes noisy, hence the iterations. Wall-clock time: flushes and page
// faults count. A case and its floor run side by side, so that they see the
// machine (and the disk's backlog) in the same state.
//
// The largest image holds the most memory at once: the image alone, as the
// writer saves from it.
constexpr std::int64_t kImageTotalMiB = 768;
constexpr std::int64_t kTextTotalMiB = 32;

#define PNGC_CASE(function, mib, total)                        \
  BENCHMARK(function)                                          \
      ->Arg((mib)*kMiB)                                        \
      ->Iterations(std::max<std::int64_t>(1, (total) / (mib))) \
      ->Unit(benchmark::kMillisecond)                          \
      ->UseRealTime()
#define PNGC_IMAGE(mib)                             \
  PNGC_CASE(BM_WriteLargePng, mib, kImageTotalMiB); \
  PNGC_CASE(BM_SaveWriteFloor, mib, kImageTotalMiB)
#define PNGC_TEXT(mib)                              \
  PNGC_CASE(BM_WriteLargeZtxt, mib, kTextTotalMiB); \
  PNGC_CASE(BM_DeflateFloor, mib, kTextTotalMiB)

}  // namespace

PNGC_IMAGE(64);
PNGC_IMAGE(128);
PNGC_IMAGE(256);
PNGC_TEXT(4);
PNGC_TEXT(8);
PNGC_TEXT(16);
// The codec alone on the largest text: one deflate each.
PNGC_CASE(BM_CompressCodec, 64, kTextTotalMiB);
PNGC_CASE(BM_DeflateFloor, 64, kTextTotalMiB);
// The crafted image, at 10,000 and 40,000 chunks, three times each.
BENCHMARK(BM_RecogniseReordered)
    ->Arg(10000)
    ->Arg(40000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecogniseUnedited)
    ->Arg(10000)
    ->Arg(40000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
