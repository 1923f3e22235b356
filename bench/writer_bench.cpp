// How the cost of WriteCommentFile grows with the file and with the text.
//
// BM_WriteLargePng: a photo-sized PNG given a new comment of a few KiB. The
// writer copies the image, copies every chunk but the text ones to its
// output (IDAT data is never decoded) and saves the output safely, so the
// time should double with the file and stay near BM_CopyWriteFloor: the same
// bytes copied into a new block and saved with the same durability steps
// (temporary file, flushed to the disk, renamed over the target), which any
// safe save of that file must pay.
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

#ifdef __GLIBC__
#include <malloc.h>
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

#include "bench/png_frames.h"
#include "stream/memory_stream.h"
#include "stream/zlib_codec.h"
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

}  // namespace

namespace pngc::bench {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "pngcomment_writer_bench: %s\n", what);
  RemoveScratchFiles();
  std::exit(1);
}

}  // namespace pngc::bench

namespace {

using pngc::bench::AsBytes;
using pngc::bench::Bytes;
using pngc::bench::FillNoise;
using pngc::bench::GetUint32;
using pngc::bench::kKiB;
using pngc::bench::kMiB;
using pngc::bench::PngFramer;
using pngc::bench::Require;
using pngc::kFromBeginning;
using pngc::TBitMemoryStream;
using pngc::TZlib;

#ifdef __GLIBC__
// As in the reader's benchmark: every large block comes fresh from the
// system whatever its size, as on Windows, rather than from pages glibc kept
// once blocks of up to 32 MiB were freed, which would favour the smaller
// texts and skew the doubling ratios.
[[maybe_unused]] const bool kFreshLargeBlocks = mallopt(M_MMAP_THRESHOLD, 128 * 1024) != 0;
#endif

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
    ScratchPaths().push_back(path_);
    ScratchPaths().push_back(temporary());
  }
  ~ScratchFile() {
    std::remove(path_.c_str());
    std::remove(temporary().c_str());
    auto& paths = ScratchPaths();
    paths.erase(std::remove_if(paths.begin(), paths.end(),
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

Bytes ReadFile(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  Require(file != nullptr, "the written file cannot be opened");
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  Bytes bytes(static_cast<std::size_t>(std::max(size, 0L)));
  const bool read = size >= 0 && std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
  std::fclose(file);
  Require(read, "the written file cannot be read");
  return bytes;
}

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
  ok = ok && MoveFileExA(temporary.c_str(), target,
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
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

// The bytes copied into a new block, as the writer builds its output in
// one, then saved.
bool CopyAndSave(const ScratchFile& file, const Bytes& bytes) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size()]);
  std::memcpy(copy.get(), bytes.data(), bytes.size());
  benchmark::DoNotOptimize(copy.get());
  return SaveDurably(file.temporary(), file.path(), copy.get(), bytes.size());
}

// ---- Comment texts, and what the writer must make of them.

// One keyword section of the comment text: `text` is what its chunk holds,
// lines joined by LF, with no empty line and no LF at either end.
struct Section {
  const char* type;  // "tEXt" or "zTXt"
  std::string keyword;
  Bytes text;
};

// The comment text a host would pass: each section a header line ([keyword]
// or <keyword>), then its lines, every line ending in CR LF.
std::string CommentText(const std::vector<Section>& sections) {
  std::string comment;
  for (const Section& section : sections) {
    const bool z = section.type[0] == 'z';
    comment += (z ? "<" : "[") + section.keyword + (z ? ">" : "]") + "\r\n";
    for (std::uint8_t byte : section.text) {
      if (byte == '\n') comment += '\r';
      comment += static_cast<char>(byte);
    }
    comment += "\r\n";
  }
  return comment;
}

// `size` bytes of prose: words from a small vocabulary, with now and then a
// number, in sentences, in lines of 50 to 80 bytes. It deflates about as
// English text does, which numbered lines or one repeated line would not.
// `seed` picks the words.
Bytes Prose(std::int64_t size, std::uint32_t seed) {
  static const char* const kWords[] = {
      "the",      "harbour", "light",     "morning", "boats",    "were",      "drawn",
      "up",       "on",      "shingle",   "and",     "a",        "fisherman", "mended",
      "his",      "nets",    "beside",    "old",     "slipway",  "while",     "gulls",
      "circled",  "over",    "tide",      "came",    "in",       "slowly",    "across",
      "mudflats", "of",      "estuary",   "this",    "print",    "was",       "made",
      "from",     "second",  "negative",  "after",   "first",    "had",       "been",
      "damaged",  "by",      "water",     "during",  "flood",    "that",      "winter",
      "colours",  "are",     "close",     "to",      "what",     "photographer",
      "remembered", "though", "sky",      "is",      "warmer",   "than",      "it",
      "seemed",   "at",      "time",      "with",    "lens",     "stopped",   "down",
      "exposure", "long",    "enough",    "for",     "still",    "surface",   "show",
      "every",    "mast",    "quay",      "lamps",   "had",      "not",       "yet",
      "gone",     "out",     "their",     "glow",    "can",      "be",        "seen",
      "near",     "left",    "edge",      "frame",   "scanned",  "at",        "high",
      "resolution", "retouched", "only",  "where",   "dust",     "marked",    "film"};
  constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];
  Bytes text;
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
    if (sentence_start) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
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
Bytes ProseLines(int count, std::uint32_t seed) { return Prose(count * 66, seed); }

struct ChunkView {
  std::size_t offset;  // of its length field
  std::size_t next;    // the offset after its CRC
  const std::uint8_t* data;
  std::uint32_t size;
  char type[5];
};

// The chunks of a well-framed PNG, CRCs checked.
std::vector<ChunkView> Chunks(const Bytes& png) {
  static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Require(png.size() >= 8 && std::memcmp(png.data(), kSignature, 8) == 0, "no PNG signature");
  std::vector<ChunkView> chunks;
  std::size_t offset = 8;
  while (offset < png.size()) {
    Require(png.size() - offset >= 12, "a chunk cut short");
    ChunkView chunk{};
    chunk.offset = offset;
    chunk.size = GetUint32(&png[offset]);
    Require(chunk.size <= png.size() - offset - 12, "a chunk longer than the file");
    std::memcpy(chunk.type, &png[offset + 4], 4);
    chunk.data = &png[offset + 8];
    chunk.next = offset + 12 + chunk.size;
    const uLong crc = crc32(0L, &png[offset + 4], static_cast<uInt>(chunk.size + 4));
    Require(GetUint32(&png[chunk.next - 4]) == static_cast<std::uint32_t>(crc), "a bad CRC");
    chunks.push_back(chunk);
    offset = chunk.next;
  }
  return chunks;
}

bool IsText(const ChunkView& chunk) {
  return std::strcmp(chunk.type, "tEXt") == 0 || std::strcmp(chunk.type, "zTXt") == 0;
}

// True when `chunk` is the one `section` must become: the keyword, a zero
// byte, then the text as it is (tEXt) or method 0 and a zlib stream that
// inflates to exactly the text (zTXt).
bool Holds(const ChunkView& chunk, const Section& section) {
  const std::size_t keyword = section.keyword.size();
  if (std::strcmp(chunk.type, section.type) != 0 || chunk.size < keyword + 1 ||
      std::memcmp(chunk.data, section.keyword.data(), keyword) != 0 || chunk.data[keyword] != 0) {
    return false;
  }
  const std::uint8_t* text = chunk.data + keyword + 1;
  const std::size_t size = chunk.size - keyword - 1;
  if (section.type[0] == 't') {
    return size == section.text.size() && std::memcmp(text, section.text.data(), size) == 0;
  }
  if (size < 1 || text[0] != 0) return false;
  Bytes inflated(section.text.size() + 1);  // one byte more shows a longer text
  uLongf length = static_cast<uLongf>(inflated.size());
  return uncompress(inflated.data(), &length, text + 1, static_cast<uLong>(size - 1)) == Z_OK &&
         length == section.text.size() &&
         std::memcmp(inflated.data(), section.text.data(), length) == 0;
}

// Checks, outside the clock, that the file at `path` is `original` as the
// writer must rewrite it: every chunk but tEXt and zTXt copied byte for byte
// and in order, and right after IHDR one chunk per section. A case that
// wrote anything else would time other work.
void CheckRewrite(const char* path, const Bytes& original, const std::vector<Section>& sections) {
  const Bytes written = ReadFile(path);
  const std::vector<ChunkView> out = Chunks(written);
  std::size_t next = 0;
  for (const ChunkView& chunk : Chunks(original)) {
    if (IsText(chunk)) continue;
    const std::size_t length = chunk.next - chunk.offset;
    Require(next < out.size() && out[next].next - out[next].offset == length &&
                std::memcmp(&written[out[next].offset], &original[chunk.offset], length) == 0,
            "a chunk was not copied as it was");
    ++next;
    if (std::strcmp(chunk.type, "IHDR") != 0) continue;
    for (const Section& section : sections) {
      Require(next < out.size() && Holds(out[next], section),
              "a section did not become its chunk");
      ++next;
    }
  }
  Require(next == out.size(), "the written file has chunks more");
}

bool Write(const ScratchFile& file, const Bytes& png, const std::string& comment) {
  return pngc::WriteCommentFile(file.path(), png.data(), static_cast<std::int32_t>(png.size()),
                                comment.data(), static_cast<std::int32_t>(comment.size()));
}

// Writes the comment into `png` as often as the case asks. One untimed call
// first creates the file, so that every timed one replaces it, and checks it.
void TimeWrites(benchmark::State& state, const Bytes& png, const std::vector<Section>& sections,
                std::int64_t bytes) {
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

// The same bytes through the floor's copy and save, checked the same way.
void TimeCopyWrites(benchmark::State& state, const Bytes& png) {
  const ScratchFile file("floor");
  Require(CopyAndSave(file, png), "the floor's save failed");
  Require(ReadFile(file.path()) == png, "the floor's save wrote other bytes");
  bool ok = true;
  for (auto _ : state) {
    ok = CopyAndSave(file, png) && ok;
  }
  Require(ok, "the floor's save failed");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(png.size()));
}

// ---- The cases.

// The image of BM_WriteLargePng and its floor: IDATs of 1 MiB, as common
// writers make them, totalling `idat_total`, and old text chunks before and
// after them, all of which the writer drops.
Bytes LargePng(std::int64_t idat_total) {
  return pngc::bench::LargePng(kMiB, idat_total, "pngcomment writer benchmark");
}

// A comment as a user edits one: some tEXt and zTXt sections, 5 KiB in all.
std::vector<Section> EditedComment() {
  return {
      {"tEXt", "Title", AsBytes("Harbour at dawn (second print)")},
      {"tEXt", "Description", ProseLines(24, 1)},
      {"zTXt", "Note", ProseLines(32, 2)},
      {"tEXt", "Software", AsBytes("pngcomment writer benchmark")},
      {"zTXt", "History", ProseLines(16, 3)},
  };
}

// range(0): IDAT bytes in all.
void BM_WriteLargePng(benchmark::State& state) {
  const Bytes png = LargePng(state.range(0));
  TimeWrites(state, png, EditedComment(), static_cast<std::int64_t>(png.size()));
}

// range(0): as for BM_WriteLargePng. The writer's output is that image with
// other text chunks of about the same size, so the floor saves the image.
void BM_CopyWriteFloor(benchmark::State& state) {
  TimeCopyWrites(state, LargePng(state.range(0)));
}

// Making 16 MiB of prose takes a while, and the writer and its floor need
// the same text: each is made once per run.
const Bytes& LongProse(std::int64_t size) {
  static std::map<std::int64_t, Bytes> texts;
  Bytes& text = texts[size];
  if (text.empty()) text = Prose(size, 0x2545F491u);
  return text;
}

// A small image with an old comment, which the long one replaces.
Bytes SmallPng() {
  PngFramer png(64 * kKiB);
  png.Header(640, 480);
  png.Text("tEXt", "Comment", AsBytes("An earlier comment."));
  std::uint32_t noise = 12345;
  FillNoise(png.Begin("IDAT", 4 * kKiB), 4 * kKiB, noise);
  png.End();
  png.Chunk("IEND", nullptr, 0);
  return png.Take();
}

// range(0): bytes of text, as its zTXt holds it (LF line ends); the comment
// text passed is a little longer, its lines ending in CR LF.
void BM_WriteLargeZtxt(benchmark::State& state) {
  const std::int64_t size = state.range(0);
  TimeWrites(state, SmallPng(), {{"zTXt", "Comment", LongProse(size)}}, size);
}

// range(0): as for BM_WriteLargeZtxt; zlib's one-call deflate of the same
// text at the writer's level, into a buffer of the bound's size touched
// beforehand.
void BM_DeflateFloor(benchmark::State& state) {
  const Bytes& text = LongProse(state.range(0));
  const uLong bound = compressBound(static_cast<uLong>(text.size()));
  Bytes stream(bound);
  uLongf length = bound;
  Require(compress2(stream.data(), &length, text.data(), static_cast<uLong>(text.size()),
                    Z_DEFAULT_COMPRESSION) == Z_OK,
          "compress2 failed");
  for (auto _ : state) {
    length = bound;
    int result = compress2(stream.data(), &length, text.data(), static_cast<uLong>(text.size()),
                           Z_DEFAULT_COMPRESSION);
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// range(0): as for BM_WriteLargeZtxt; the plug-in's codec alone, deflating
// the same text from a stream into a new stream at the writer's level.
void BM_CompressCodec(benchmark::State& state) {
  const Bytes& text = LongProse(state.range(0));
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
// The largest image holds the most memory at once: the image, the writer's
// copy of it and its output stream, which grows by half again, so up to
// about 1 GiB while the output is reallocated. The 32-bit Windows build has
// room for that in its 2 GiB of address space.
constexpr std::int64_t kImageTotalMiB = 768;
constexpr std::int64_t kTextTotalMiB = 32;

#define PNGC_CASE(function, mib, total)                                        \
  BENCHMARK(function)->Arg((mib) * kMiB)                                       \
      ->Iterations(std::max<std::int64_t>(1, (total) / (mib)))                 \
      ->Unit(benchmark::kMillisecond)->UseRealTime()
#define PNGC_IMAGE(mib)                                                        \
  PNGC_CASE(BM_WriteLargePng, mib, kImageTotalMiB);                            \
  PNGC_CASE(BM_CopyWriteFloor, mib, kImageTotalMiB)
#define PNGC_TEXT(mib)                                                         \
  PNGC_CASE(BM_WriteLargeZtxt, mib, kTextTotalMiB);                            \
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

BENCHMARK_MAIN();
