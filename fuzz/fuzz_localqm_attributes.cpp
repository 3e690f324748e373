// Any bytes as a queue's attributes file, parsed from text and loaded from
// a queue folder. Beyond the sanitizers' checks: both ways agree, whatever
// is accepted lies within each attribute's range, and what is accepted
// survives being written out and read back.
#include <string>

#include "fuzz/fuzz_support.h"
#include "localqm/attributes.h"
#include "localqm/names.h"

namespace {

using namespace localqm;

bool Same(const Attributes& a, const Attributes& b) {
  return a.max_depth == b.max_depth && a.max_msg_length == b.max_msg_length &&
         a.put_enabled == b.put_enabled &&
         a.def_persistence == b.def_persistence &&
         a.def_priority == b.def_priority;
}

bool InRange(const Attributes& a) {
  return a.max_depth >= 0 && a.max_depth <= kMaxMaxDepth &&
         a.max_msg_length >= 0 && a.max_msg_length <= kMaxMaxMsgLength &&
         (a.def_persistence == 0 || a.def_persistence == 1) &&
         a.def_priority >= 0 && a.def_priority <= 9;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text((const char*)data, size);
  Attributes parsed;
  std::string error;
  bool ok = ParseAttributes(text, &parsed, &error);
  FUZZ_CHECK(ok || !error.empty());

  // Loading refuses a file over 64 KiB before parsing it.
  if (size <= 64 * 1024) {
    const std::string& folder = fuzz::ScratchFolder();
    fuzz::WriteFileBytes(AttributesPath(folder), data, size);
    Attributes loaded;
    std::string load_error;
    FUZZ_CHECK(LoadAttributes(folder, &loaded, &load_error) == ok);
    FUZZ_CHECK(!ok || Same(parsed, loaded));
  }
  if (!ok) return 0;

  FUZZ_CHECK(InRange(parsed));
  Attributes again;
  FUZZ_CHECK(ParseAttributes(FormatAttributes(parsed), &again, &error));
  FUZZ_CHECK(Same(parsed, again));
  return 0;
}
