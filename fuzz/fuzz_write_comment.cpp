// Fuzz target: WriteComment, as a host calls it, into a file of its own.
//
// Input: two bytes giving (big-endian, modulo what is left) how many of the
// remaining bytes are the image; the rest is the comment text. The file
// written is read back and checked against the model in
// tests/support/png_model.h: the
// image's first eight bytes, its chunks other than tEXt and zTXt byte for
// byte and in order, after each IHDR exactly the chunks the text makes, and
// from the first bytes that frame no complete chunk the image's tail as it
// was; nothing else. Then the same write is repeated with one allocation
// failing and with one file-system step failing, each of which must leave
// the file exactly as it was (or, if not hit, write the same bytes).
// Replays of the crashers fail each allocation and each step in turn
// (fuzz/harness.h).
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define PNGC_FUZZ_PID _getpid()
#else
#include <signal.h>
#include <unistd.h>
#define PNGC_FUZZ_PID getpid()
#endif

#include "fuzz/harness.h"
#include "platform/os.h"
#include "plugin/pngcomment.h"
#include "tests/support/files.h"
#include "tests/support/png_model.h"

namespace {

using pngfuzz::kMemoryLimit;

namespace fs = std::filesystem;
using pngtest::ReadFile;
using pngtest::Require;

constexpr char kFolderPrefix[] = "pngcomment-fuzz-";

#ifndef _WIN32
// Removes the folders of processes that no longer run (a crash skips the
// exit handler).
void RemoveStaleFolders(const fs::path& base) {
  const std::string prefix = kFolderPrefix;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(base, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      fs::remove_all(entry.path(), ec);
    }
  }
}
#endif

void RemoveFolder();

// A folder for this process alone (several fuzzing jobs may run at once),
// removed at exit. Natively tmpfs is preferred: every write ends with fsync.
const fs::path& Folder() {
  // Never destroyed, so that the exit handler can still use it.
  static const fs::path* folder = [] {
    fs::path base;
#ifndef _WIN32
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
      base = tmp;
    } else if (std::error_code ec; fs::is_directory("/dev/shm", ec)) {
      base = "/dev/shm";
    }
    if (!base.empty()) RemoveStaleFolders(base);
#endif
    if (base.empty()) base = fs::temp_directory_path();
    auto* made = new fs::path(base / (kFolderPrefix + std::to_string(PNGC_FUZZ_PID)));
    std::error_code ignored;
    fs::remove_all(*made, ignored);  // left by an earlier process of the same id
    fs::create_directories(*made);
    return made;
  }();
  static const bool cleanup = std::atexit(RemoveFolder) == 0;
  (void)cleanup;
  return *folder;
}

void RemoveFolder() {
  std::error_code ignored;
  fs::remove_all(Folder(), ignored);
}

// The folder's entries, which may only be the target: no temporary file is
// ever left behind.
std::size_t FolderEntries(const fs::path& target) {
  const std::set<std::string> names = pngtest::Listing(Folder());
  for (const std::string& name : names) {
    Require(name == target.filename().string(), "a temporary file was left behind");
  }
  return names.size();
}

void RequireOnlyTarget(const fs::path& target) {
  Require(FolderEntries(target) == 1, "the target file is missing");
}

// Which file-system step the os fault hook fails.
pngc::os::Call g_failing_call = pngc::os::Call::kCreateFile;
bool g_os_failed = false;
bool FailOsCall(pngc::os::Call call) {
  if (call != g_failing_call) return false;
  g_os_failed = true;
  return true;
}

std::uint32_t g_allocations = 0;
std::uint32_t g_fail_at = 0;
bool CountOrFail(pngc::os::Call call) {
  return call == pngc::os::Call::kAllocate && ++g_allocations == g_fail_at;
}

// One write as the target makes it, and the bytes its plain call wrote.
struct Write {
  const std::string& name;
  const std::uint8_t* image;
  std::int32_t image_size;
  const char* comment;
  std::int32_t comment_size;
  const std::string& written;
};

std::int32_t Repeat(const Write& w) {
  return WriteComment(0, w.name.c_str(), w.image, w.image_size, w.comment, w.comment_size);
}

// The write with its allocation number `fail_at` failing: -4 and the file as
// it was, or, when the plug-in could do without that allocation, the same
// bytes written again.
void CheckFailedAllocation(const Write& w, std::uint32_t fail_at) {
  const fs::path target = w.name;
  g_allocations = 0;
  g_fail_at = fail_at;
  pngc::os::SetFaultHook(CountOrFail);
  const std::int32_t result = Repeat(w);
  pngc::os::SetFaultHook(nullptr);
  Require(g_allocations >= fail_at, "the allocations of two identical writes differ");
  Require(result == kPngcFailed || result == kPngcOk, "a failed allocation gave neither -4 nor 0");
  RequireOnlyTarget(target);
  Require(ReadFile(target) == w.written, "a failed allocation changed what the file holds");
}

const pngc::os::Call kFileSteps[] = {pngc::os::Call::kCreateFile, pngc::os::Call::kWriteFile,
                                     pngc::os::Call::kKeepAttributes, pngc::os::Call::kFlushFile,
                                     pngc::os::Call::kReplaceFile};

// The write with one file-system step failing: -5, and the old file kept
// (made a little different first, to show it is truly untouched) or, for a
// new file, none made. A step that is not hit must not change the write.
void CheckFailedStep(const Write& w, pngc::os::Call step, bool fresh) {
  const fs::path target = w.name;
  const std::string before = w.written + "old";
  if (fresh) {
    fs::remove(target);
  } else {
    Require(pngtest::WriteFile(target, before), "the old file cannot be made");
  }
  g_failing_call = step;
  g_os_failed = false;
  pngc::os::SetFaultHook(FailOsCall);
  const std::int32_t result = Repeat(w);
  pngc::os::SetFaultHook(nullptr);
  if (g_os_failed) {
    Require(result == kPngcNotSaved, "a failed file-system step did not give -5");
    if (fresh) {
      Require(FolderEntries(target) == 0, "a failed file-system step left a file");
    } else {
      Require(FolderEntries(target) == 1 && ReadFile(target) == before,
              "a failed file-system step changed the file");
    }
  } else {
    // A step may be done without (an empty file needs no write).
    Require(result == kPngcOk, "an unhit fault made the write fail");
    RequireOnlyTarget(target);
    Require(ReadFile(target) == w.written, "an unhit fault changed the write");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0x7FFFFFFF) return 0;
  static const std::uint8_t kNothing = 0;
  const std::size_t header = size < 2 ? size : 2;
  const std::uint8_t* rest = data + header;
  const std::size_t rest_size = size - header;
  const std::size_t split =
      header == 2 ? ((std::size_t{data[0]} << 8) | data[1]) % (rest_size + 1) : 0;
  const std::uint8_t* image = rest_size > 0 ? rest : &kNothing;
  const auto image_size = static_cast<std::int32_t>(split);
  const char* comment = reinterpret_cast<const char*>(image + split);
  const auto comment_size = static_cast<std::int32_t>(rest_size - split);
  // With a comment, the image's own text chunks may stand for its sections.
  // The writer renders them as it compares, holding none: no text, however
  // far it inflates, makes it run out of memory.
  std::vector<pngtest::Section> sections;
  if (comment_size > 0) {
    const std::vector<pngtest::OldChunk> olds = pngtest::OldChunks(image, split, kMemoryLimit);
    sections = pngtest::ExpectedSections(reinterpret_cast<const std::uint8_t*>(comment),
                                         static_cast<std::size_t>(comment_size), &olds);
  }

  const fs::path target = Folder() / "target.png";
  const std::string name = target.string();
  // Both ways of putting the file in place: over an old file, and as a new one.
  if (size % 2 == 1) {
    std::error_code ec;
    fs::remove(target, ec);
  }

  // What is not a PNG is refused, and whatever the target held stays.
  if (image_size < 8 || std::memcmp(image, pngtest::kSignature.data(), 8) != 0) {
    const bool existed = FolderEntries(target) == 1;
    const std::string before = existed ? ReadFile(target) : std::string();
    Require(WriteComment(0, name.c_str(), image, image_size, comment, comment_size) == kPngcFailed,
            "an image that is not a PNG was not refused");
    Require(
        FolderEntries(target) == (existed ? 1u : 0u) && (!existed || ReadFile(target) == before),
        "an image that is not a PNG changed the target");
    return 0;
  }

  g_allocations = 0;
  g_fail_at = 0;
  pngc::os::SetFaultHook(CountOrFail);
  const std::int32_t result =
      WriteComment(0, name.c_str(), image, image_size, comment, comment_size);
  pngc::os::SetFaultHook(nullptr);
  const std::uint32_t allocations = g_allocations;
  Require(result != kPngcFailed, "WriteComment ran out of memory on a small input");
  Require(result == kPngcOk, "WriteComment did not write a file it may write");
  RequireOnlyTarget(target);
  const std::string written = ReadFile(target);
  pngtest::CheckRewrite(pngtest::BytesOf(written), written.size(), image, split,
                        comment_size > 0 ? &sections : nullptr);

  // One allocation failing, or one file-system step: the one the input's
  // hash picks while fuzzing; each in turn when replaying.
  const Write write{name, image, image_size, comment, comment_size, written};
  if (pngfuzz::every_fault) {
    for (std::uint32_t k = 1; k <= allocations; ++k) CheckFailedAllocation(write, k);
    for (const pngc::os::Call step : kFileSteps) {
      CheckFailedStep(write, step, false);
      CheckFailedStep(write, step, true);
    }
    return 0;
  }
  // One more whole write, not two: the inputs are many.
  const std::uint32_t hash = pngtest::Hash(data, size);
  if (hash % 2 == 0 && allocations > 0) {
    CheckFailedAllocation(write, 1 + hash / 2 % allocations);
  } else {
    CheckFailedStep(write, kFileSteps[hash / 7 % std::size(kFileSteps)], size % 2 == 1);
  }
  return 0;
}
