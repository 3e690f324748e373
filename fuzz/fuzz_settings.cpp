// Any bytes as a channel settings file. Beyond the sanitizers' checks, each
// value must end inside its own buffer (the four buffers lie side by side,
// where AddressSanitizer sees no overrun from one into the next), and a
// value that was set must stand in the file as a "Key=value" line would.
#include <string.h>

#include "fuzz/fuzz_support.h"
#include "settings/channel_settings.h"

static void CheckValue(const char* key, const char* value, size_t size,
                       const uint8_t* data, size_t data_size) {
  const void* end = memchr(value, '\0', size);
  FUZZ_CHECK(end != nullptr);
  size_t length = (const char*)end - value;
  if (length == 0) return;
  // A value runs to the first blank or the line's end; Ctrl-Z ends the text.
  FUZZ_CHECK(strpbrk(value, " \n\x1a") == nullptr);
  std::string line = std::string(key) + "=" + value;
  FUZZ_CHECK(memmem(data, data_size, line.data(), line.size()) != nullptr);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::SilenceStdio();
  fuzz::WriteInput(data, size);
  memset(SettingsPath, 0, sizeof SettingsPath);
  strcpy(SettingsPath, fuzz::InputPath().c_str());

  ReadChannelSettings();

  CheckValue("MessageBufferFile", ChannelSettings.MessageBufferFile,
             sizeof ChannelSettings.MessageBufferFile, data, size);
  CheckValue("InQueue", ChannelSettings.InQueue, sizeof ChannelSettings.InQueue,
             data, size);
  CheckValue("OutQueue", ChannelSettings.OutQueue,
             sizeof ChannelSettings.OutQueue, data, size);
  CheckValue("QueueMgr", ChannelSettings.QueueMgr,
             sizeof ChannelSettings.QueueMgr, data, size);
  return 0;
}
