#include "settings/channel_settings.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "buffer_file/input_file.h"

ChannelSettingsValues ChannelSettings;
char SettingsPath[SETTINGS_PATH_SIZE];
bool SettingsValueTooLong;

// One line is at most 255 characters and its NUL, as fgets(line, 256) takes.
#define SETTINGS_LINE_SIZE 256
#define CTRL_Z 0x1A

// The settings file while it is read, and whether its text has ended.
static FILE* SettingsFile;
static bool SettingsTextEnded;

// The next character of the settings text as Windows text mode delivers it,
// or EOF. The translation lies below the line splitting, so a CR LF pair
// becomes one LF even where a 255-character piece ends between the two. A CR
// not followed by LF, the last byte of the file included, stays.
static int ReadTextChar() {
  if (SettingsTextEnded) return EOF;
  int c = getc(SettingsFile);
  if (c == '\r') {
    int next = getc(SettingsFile);
    if (next == '\n') return '\n';
    if (next != EOF) ungetc(next, SettingsFile);
    return '\r';
  }
  if (c == EOF || c == CTRL_Z) {
    SettingsTextEnded = true;
    return EOF;
  }
  return c;
}

// Reads the next line as fgets does: up to 255 characters, up to and
// including a line feed. False at the end of the text and, as fgets, on a
// read error, which ends the reading like the end of the file.
static bool ReadSettingsLine(char* line) {
  int count = 0;
  while (count < SETTINGS_LINE_SIZE - 1) {
    int c = ReadTextChar();
    if (c == EOF) break;
    line[count++] = (char)c;
    if (c == '\n') break;
  }
  line[count] = '\0';
  if (ferror(SettingsFile)) return false;
  return count > 0;
}

// Replaces the value of key, if key is one of the four. A value too long for
// its buffer is reported and refused rather than cut short.
static void StoreSetting(const char* key, const char* value) {
  struct Setting {
    const char* key;
    char* value;
    size_t size;
  };
  const Setting settings[] = {
      {"MessageBufferFile", ChannelSettings.MessageBufferFile,
       sizeof ChannelSettings.MessageBufferFile},
      {"InQueue", ChannelSettings.InQueue, sizeof ChannelSettings.InQueue},
      {"OutQueue", ChannelSettings.OutQueue, sizeof ChannelSettings.OutQueue},
      {"QueueMgr", ChannelSettings.QueueMgr, sizeof ChannelSettings.QueueMgr},
  };
  for (const Setting& setting : settings) {
    if (strcmp(key, setting.key) != 0) continue;
    size_t length = strlen(value);
    if (length >= setting.size) {
      fprintf(stderr, "\n%s value is longer than %d characters", key,
              (int)(setting.size - 1));
      SettingsValueTooLong = true;
      return;
    }
    memset(setting.value, 0, setting.size);
    memcpy(setting.value, value, length);
    return;
  }
}

// The key is the text before the first '=', unchanged; the value runs from
// after it to the first space. A NUL ends the text, whatever follows it.
static void ParseSettingsLine(char* line) {
  size_t length = strlen(line);
  if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
  char* equals = strchr(line, '=');
  if (equals == nullptr) return;
  *equals = '\0';
  char* value = equals + 1;
  char* blank = strchr(value, ' ');
  if (blank != nullptr) *blank = '\0';
  StoreSetting(line, value);
}

void ReadChannelSettings() {
  memset(&ChannelSettings, 0, sizeof ChannelSettings);
  SettingsValueTooLong = false;
  const char* path =
      SettingsPath[0] != '\0' ? SettingsPath : DEFAULT_SETTINGS_PATH;
  SettingsFile = OpenInputFile(path);
  if (SettingsFile == nullptr) {
    int openErrno = errno;
    fprintf(stderr, "\nUnable to open %s.  Error #: %d", path, openErrno);
    return;
  }
  SettingsTextEnded = false;
  char line[SETTINGS_LINE_SIZE];
  while (ReadSettingsLine(line)) ParseSettingsLine(line);
  fclose(SettingsFile);
  SettingsFile = nullptr;
}
