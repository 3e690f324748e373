// The channel settings file: which buffer file to replay, the queue to put
// to, the reply-to queue written into every message and the queue manager.
//
// The file is text lines of KEY=VALUE. It is read in binary and the two
// rules of Windows text mode are applied here (CR directly before LF is
// dropped; Ctrl-Z ends the text), so that every build reads a settings file
// the same way. At most 255 characters are taken as one line; longer lines
// are taken as several. The key is the whole text before the first '=', case
// and blanks counting; the value runs to the first space or the line's end.
// The last line for a key wins; any other line is passed over.
#ifndef SETTINGS_CHANNEL_SETTINGS_H
#define SETTINGS_CHANNEL_SETTINGS_H

// Buffer sizes, each with room for the terminating NUL.
#define SETTINGS_PATH_SIZE 129
#define SETTINGS_NAME_SIZE 129
#define SETTINGS_QMGR_SIZE 50

struct ChannelSettingsValues {
  char MessageBufferFile[SETTINGS_NAME_SIZE];
  char InQueue[SETTINGS_NAME_SIZE];
  char OutQueue[SETTINGS_NAME_SIZE];
  char QueueMgr[SETTINGS_QMGR_SIZE];
};

// The four values; empty until a line of the file sets them.
extern ChannelSettingsValues ChannelSettings;

// The settings file path from the command line; empty means the default.
extern char SettingsPath[SETTINGS_PATH_SIZE];

// Set when a line carried a value longer than its buffer. That value was
// reported on standard error and left as it was; the run must not go on.
extern bool SettingsValueTooLong;

// Where the settings are read from when SettingsPath is empty.
#ifdef _WIN32
#define DEFAULT_SETTINGS_PATH "\\tmp\\channel.ini"
#else
#define DEFAULT_SETTINGS_PATH "/tmp/channel.ini"
#endif

// Empties the four values, then reads the settings file at SettingsPath (or
// the default path) and fills them. A file that cannot be opened is reported
// on standard error ("\nUnable to open %s.  Error #: %d") and leaves all four
// empty; a path naming a directory counts as one that cannot be opened.
void ReadChannelSettings();

#endif  // SETTINGS_CHANNEL_SETTINGS_H
