#include "settings/channel_settings.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

using std::string;
using namespace std::string_literals;

// A folder of its own under the temp directory for each test.
class SettingsFileTest : public testing::Test {
 protected:
  void SetUp() override {
    auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() /
           ("msgreplay_settings_" + std::to_string(tick));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  string WriteSettings(const string& bytes) {
    string path = (dir_ / "channel.ini").string();
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return path;
  }

  // Runs the reader on path with every value stale beforehand, so a reader
  // that fails to empty them shows; returns what it wrote on stderr.
  string ReadSettingsAt(const string& path) {
    strcpy(ChannelSettings.MessageBufferFile, "STALE");
    strcpy(ChannelSettings.InQueue, "STALE");
    strcpy(ChannelSettings.OutQueue, "STALE");
    strcpy(ChannelSettings.QueueMgr, "STALE");
    SettingsValueTooLong = true;
    memset(SettingsPath, 0, sizeof SettingsPath);
    strncpy(SettingsPath, path.c_str(), sizeof SettingsPath - 1);
    testing::internal::CaptureStderr();
    ReadChannelSettings();
    return testing::internal::GetCapturedStderr();
  }

  fs::path dir_;
};

struct Values {
  string messageBufferFile, inQueue, outQueue, queueMgr;
};

void ExpectValues(const Values& want) {
  EXPECT_EQ(ChannelSettings.MessageBufferFile, want.messageBufferFile);
  EXPECT_EQ(ChannelSettings.InQueue, want.inQueue);
  EXPECT_EQ(ChannelSettings.OutQueue, want.outQueue);
  EXPECT_EQ(ChannelSettings.QueueMgr, want.queueMgr);
}

struct SettingsCase {
  const char* what;
  string file;
  Values values;
  string stderrText = "";
  bool tooLong = false;
};

string Repeat(char c, size_t n) { return string(n, c); }

TEST_F(SettingsFileTest, FileContentsGiveTheseValues) {
  const string filler255 = Repeat('#', 255);
  const SettingsCase cases[] = {
      {"all four keys, LF lines",
       "MessageBufferFile=C:\\msgs\\saved.buf\nInQueue=IN.Q\nOutQueue=OUT.Q\n"
       "QueueMgr=QM1\n",
       {"C:\\msgs\\saved.buf", "IN.Q", "OUT.Q", "QM1"}},
      {"CR LF lines read as LF lines",
       "MessageBufferFile=a.buf\r\nInQueue=IN.Q\r\nOutQueue=OUT.Q\r\n"
       "QueueMgr=QM1\r\n",
       {"a.buf", "IN.Q", "OUT.Q", "QM1"}},
      {"a lone CR stays in the value",
       "InQueue=A\rB\nOutQueue=C\r\r\n",
       {"", "A\rB", "C\r", ""}},
      {"a CR as the file's last byte stays",
       "QueueMgr=QM\r",
       {"", "", "", "QM\r"}},
      {"Ctrl-Z ends the text mid-line",
       "InQueue=IN\x1A.Q\nOutQueue=OUT.Q\n",
       {"", "IN", "", ""}},
      {"nothing after Ctrl-Z is read",
       "InQueue=IN.Q\n\x1AOutQueue=OUT.Q\n",
       {"", "IN.Q", "", ""}},
      {"a last line without LF",
       "InQueue=IN.Q\nQueueMgr=QM1",
       {"", "IN.Q", "", "QM1"}},
      {"empty file", "", {"", "", "", ""}},
      {"no setting lines", "remark\n[section]\n\n", {"", "", "", ""}},
      {"NUL hides the rest of its line only",
       "InQueue=IN\0.Q\nOutQueue=OUT.Q\n"s,
       {"", "IN", "OUT.Q", ""}},
      {"a line that begins with NUL is ignored",
       "\0InQueue=IN.Q\nQueueMgr=QM1\n"s,
       {"", "", "", "QM1"}},
      {"a byte-order mark spoils the first key",
       "\xEF\xBB\xBFInQueue=IN.Q\nOutQueue=OUT.Q\n",
       {"", "", "OUT.Q", ""}},
      {"letter case counts",
       "inqueue=a\nINQUEUE=b\nQueuemgr=c\n",
       {"", "", "", ""}},
      {"blanks around a key spoil it",
       " InQueue=a\nInQueue =b\n\tQueueMgr=c\n",
       {"", "", "", ""}},
      {"a key with further letters is another key",
       "InQueueX=a\nQueueMgrs=b\nInQ=c\n",
       {"", "", "", ""}},
      {"a value ends at its first space; a tab stays",
       "InQueue=IN.Q  # the input\nOutQueue=OUT\tQ rest\n",
       {"", "IN.Q", "OUT\tQ", ""}},
      {"a space right after = gives an empty value",
       "InQueue=IN.Q\nInQueue= IN.Q\n",
       {"", "", "", ""}},
      {"the last line for a key wins; an empty value empties",
       "InQueue=A\nOutQueue=B\nInQueue=C\nOutQueue=\n",
       {"", "C", "", ""}},
      {"further equals signs belong to the value",
       "InQueue=A=B=\n=OutQueue=X\n",
       {"", "A=B=", "", ""}},
      {"a line of 255 characters and its LF; the LF reads as an empty line",
       "InQueue=" + Repeat('v', 128) + " " + Repeat('f', 118) +
           "\nOutQueue=B\n",
       {"", Repeat('v', 128), "B", ""}},
      {"a longer line is cut after 255 characters and each piece parsed",
       filler255 + "InQueue=SPLIT\n" + filler255 + "x=QueueMgr=Q\n",
       {"", "SPLIT", "", ""}},
      {"CR LF split by the 255-character boundary is still one LF",
       Repeat('#', 254) + "\r\nInQueue=IN.Q\r\n",
       {"", "IN.Q", "", ""}},
      {"values that just fit",
       "InQueue=" + Repeat('i', 128) + "\nQueueMgr=" + Repeat('q', 49) + "\n",
       {"", Repeat('i', 128), "", Repeat('q', 49)}},
      {"a value too long is refused, the earlier value stands, reading goes on",
       "QueueMgr=QM1\nQueueMgr=" + Repeat('q', 50) + "\nInQueue=IN.Q\n",
       {"", "IN.Q", "", "QM1"},
       "\nQueueMgr value is longer than 49 characters",
       true},
      {"each too-long value is reported, never cut short",
       "MessageBufferFile=" + Repeat('m', 129) +
           "\nOutQueue=" + Repeat('o', 200) + "\n",
       {"", "", "", ""},
       "\nMessageBufferFile value is longer than 128 characters"
       "\nOutQueue value is longer than 128 characters",
       true},
  };
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.what);
    string errors = ReadSettingsAt(WriteSettings(c.file));
    ExpectValues(c.values);
    EXPECT_EQ(errors, c.stderrText);
    EXPECT_EQ(SettingsValueTooLong, c.tooLong);
  }
}

TEST_F(SettingsFileTest, FileThatCannotBeOpenedIsReportedAndLeavesAllEmpty) {
  struct OpenCase {
    const char* what;
    string path;
    int errorNumber;
  };
  const OpenCase cases[] = {
      {"no such file", (dir_ / "missing.ini").string(), 2},
      {"no such directory", (dir_ / "nodir" / "channel.ini").string(), 2},
#ifdef _WIN32
      {"a directory", dir_.string(), EACCES},
#else
      {"a directory", dir_.string(), EISDIR},
#endif
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.what);
    string errors = ReadSettingsAt(c.path);
    EXPECT_EQ(errors, "\nUnable to open " + c.path +
                          ".  Error #: " + std::to_string(c.errorNumber));
    ExpectValues({"", "", "", ""});
    EXPECT_FALSE(SettingsValueTooLong);
  }
}

TEST_F(SettingsFileTest, EmptyPathReadsTheDefaultFile) {
  if (fs::exists(DEFAULT_SETTINGS_PATH))
    GTEST_SKIP() << DEFAULT_SETTINGS_PATH << " exists on this machine";
  string errors = ReadSettingsAt("");
  EXPECT_EQ(errors, "\nUnable to open " DEFAULT_SETTINGS_PATH ".  Error #: 2");
}

}  // namespace
