// Fuzz target: GetComment on arbitrary bytes, as a host would call it.
//
// Beyond "no crash, no leak", every result is checked against the model in
// tests/support/png_model.h: the comment text byte for byte (with its NUL), one summary
// of six CR LF lines per IHDR with its 13 data bytes, naming the image's
// size and pixel size. The same bytes are then read again with null
// out-parameters, with the system's local-memory calls failing (no block may
// be handed over, the result stays 0) and with one of the plug-in's
// allocations failing: -4 with the handles untouched, or the same result.
// Replays of the crashers fail each allocation in turn (fuzz/harness.h).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "platform/os.h"
#include "plugin/pngcomment.h"
#include "tests/support/local_blocks.h"
#include "tests/support/png_model.h"

namespace {

using pngfuzz::kMemoryLimit;
using pngfuzz::kSmall;

using pngtest::BlockBytes;
using pngtest::Require;

// The allocation seam's hook: counts the plug-in's allocations and fails the
// one numbered g_fail_at (0: none), noting that it did.
std::uint32_t g_allocations = 0;
std::uint32_t g_fail_at = 0;
bool g_failed = false;

bool CountOrFail(pngc::os::Call call) {
  if (call != pngc::os::Call::kAllocate) return false;
  ++g_allocations;
  if (g_allocations == g_fail_at) {
    g_failed = true;
    return true;
  }
  return false;
}

// Six lines, each ending in CR LF, per summary: the second ends with the
// pixel size, the last with the image's byte count.
void CheckSummaries(const std::string& text, const std::vector<std::int32_t>& sizes,
                    std::size_t image_size) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    Require(end != std::string::npos, "the summary does not end with CR LF");
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  Require(lines.size() == sizes.size() / 2 * 6, "not six summary lines per complete IHDR");
  const auto ends_with = [](const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  };
  const std::string byte_count = " " + std::to_string(image_size) + " byte";
  for (std::size_t k = 0; k < lines.size(); k += 6) {
    const std::string pixels =
        " " + std::to_string(sizes[k / 3]) + " x " + std::to_string(sizes[k / 3 + 1]);
    Require(ends_with(lines[k + 1], pixels), "a summary names the wrong pixel size");
    Require(ends_with(lines[k + 5], byte_count), "a summary does not end with the file size");
    for (std::size_t m = k; m < k + 6; ++m) {
      Require(lines[m].find_first_of(std::string("\r\n\0", 3)) == std::string::npos,
              "a summary line holds CR, LF or NUL");
    }
  }
}

// A call whose allocation number `fail_at` fails must give -4 with nothing
// handed over or, when the plug-in could do without that allocation, what
// the plain call gave.
void CheckFailedAllocation(const std::uint8_t* data, std::int32_t length, std::uint32_t fail_at,
                           const std::string& summary_text, const std::string& comment_text) {
  g_allocations = 0;
  g_fail_at = fail_at;
  g_failed = false;
  pngc::os::SetFaultHook(CountOrFail);
  HLOCAL comment = nullptr;
  HLOCAL summary = nullptr;
  const std::int32_t result = GetComment(0, data, length, &comment, &summary);
  pngc::os::SetFaultHook(nullptr);
  Require(g_failed, "the allocations of two identical calls differ");
  if (result == kPngcFailed) {
    Require(comment == nullptr && summary == nullptr,
            "-4 after a failed allocation with a handle handed over");
  } else {
    Require(result == kPngcOk, "a failed allocation gave neither 0 nor -4");
    Require(summary != nullptr && BlockBytes(summary) == summary_text,
            "0 after a failed allocation, with another summary");
    Require(comment_text.empty() ? comment == nullptr
                                 : comment != nullptr && BlockBytes(comment) == comment_text + '\0',
            "0 after a failed allocation, with another comment text");
  }
  pngc::os::FreeLocal(comment);
  pngc::os::FreeLocal(summary);
}

// The system's local-memory calls failing, one kind every time: the result
// is still 0 and no block with content is handed over; only an empty
// summary, which needs no lock, may still be.
pngc::os::Call g_failing_call = pngc::os::Call::kLocalAlloc;
bool FailLocalMemory(pngc::os::Call call) { return call == g_failing_call; }

void CheckFailedLocalMemory(const std::uint8_t* data, std::int32_t length, pngc::os::Call call,
                            const std::string& summary_text) {
  static char sentinel_comment;
  static char sentinel_summary;
  HLOCAL comment = &sentinel_comment;
  HLOCAL summary = &sentinel_summary;
  g_failing_call = call;
  pngc::os::SetFaultHook(FailLocalMemory);
  const std::int32_t result = GetComment(0, data, length, &comment, &summary);
  pngc::os::SetFaultHook(nullptr);
  Require(result == kPngcOk, "a failed local-memory call changed the result");
  const bool alloc = call == pngc::os::Call::kLocalAlloc;
  if (summary != &sentinel_summary) {
    Require(!alloc && summary_text.empty() && summary != nullptr && LocalSize(summary) == 0,
            "a summary handed over although its block could not be made");
    pngc::os::FreeLocal(summary);
  }
  Require(comment == &sentinel_comment,
          "a comment handed over although its block could not be made");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0x7FFFFFFF) return 0;
  const auto length = static_cast<std::int32_t>(size);
  const pngtest::Reading expected = pngtest::ExpectedReading(data, size, kMemoryLimit);

  // A plain call, its allocations counted.
  g_allocations = 0;
  g_fail_at = 0;
  pngc::os::SetFaultHook(CountOrFail);
  HLOCAL comment = nullptr;
  HLOCAL summary = nullptr;
  const std::int32_t result = GetComment(0, data, length, &comment, &summary);
  pngc::os::SetFaultHook(nullptr);
  const std::uint32_t allocations = g_allocations;
  Require(result == kPngcOk || result == kPngcFailed, "GetComment gave neither 0 nor -4");
  Require(!expected.too_large || result == kPngcFailed, "a text past the memory limit was read");
  Require(expected.too_large || expected.comment.size() > kSmall || result == kPngcOk,
          "GetComment ran out of memory on a small input");
  std::string summary_text;
  std::string comment_text;
  if (result == kPngcFailed) {
    Require(comment == nullptr && summary == nullptr, "-4 with a handle handed over");
  } else {
    Require(summary != nullptr, "0 without a summary handle");
    summary_text = BlockBytes(summary);
    CheckSummaries(summary_text, expected.summaries, size);
    if (expected.comment.empty()) {
      Require(comment == nullptr, "a comment handle for a PNG without text");
    } else {
      Require(comment != nullptr, "no comment handle for a PNG with text");
      comment_text = BlockBytes(comment);
      Require(!comment_text.empty() && comment_text.back() == '\0',
              "the comment block does not end with NUL");
      comment_text.pop_back();
      Require(comment_text == expected.comment, "the comment text differs from the model");
    }
  }
  pngc::os::FreeLocal(comment);
  pngc::os::FreeLocal(summary);

  // The variants, each a whole call again: all of them when replaying; one,
  // picked by the input's hash, while fuzzing, where the inputs are many.
  // Null out-parameters are never written through; the system's local
  // memory failing; one allocation failing.
  [[maybe_unused]] const std::uint32_t hash = pngtest::Hash(data, size);
  const auto variant = [hash](int k) {
    return pngfuzz::every_fault || static_cast<int>(hash % 4) == k;
  };
  if (variant(0)) {
    Require(GetComment(0, data, length, nullptr, nullptr) == result,
            "null out-parameters change the result");
  }
  if (result != kPngcOk) return 0;
  if (variant(1)) CheckFailedLocalMemory(data, length, pngc::os::Call::kLocalAlloc, summary_text);
  if (variant(2)) CheckFailedLocalMemory(data, length, pngc::os::Call::kLocalLock, summary_text);
  if (pngfuzz::every_fault) {
    for (std::uint32_t k = 1; k <= allocations; ++k) {
      CheckFailedAllocation(data, length, k, summary_text, comment_text);
    }
  } else if (variant(3) && allocations > 0) {
    CheckFailedAllocation(data, length, 1 + hash / 4 % allocations, summary_text, comment_text);
  }
  return 0;
}
