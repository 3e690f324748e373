// msgreplay: replays the messages of a message buffer file onto a queue.
//
// The run moves forward only: read the settings, connect, open the queue,
// open the buffer file, then for every record show its header and put its
// data under its own descriptor, with only the reply-to queue and queue
// manager replaced. Each early end has its own exit status (exit_status.h).
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "buffer_file/buffer_file.h"
#include "buffer_file/input_file.h"
#include "driver/exit_status.h"
#include "mqi/mqi.h"
#include "settings/channel_settings.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

static MQHCONN Hconn;
static MQHOBJ Hobj;
static MQLONG CompCode;
static MQLONG Reason;
static MQOD ObjDesc = MQOD_DEFAULT;
// Room for a whole version-2 descriptor: a record may claim version 2, and
// the queue manager then reads past the 324 bytes copied from the record.
// Those bytes hold the interface's initial values for the version-2 fields.
static MQMD2 PutMsgDesc = {MQMD_DEFAULT, {0}, 1, 0, 0, -1};
static MQPMO PutMsgOpts = MQPMO_DEFAULT;
static MQLONG DataLength;
static MQLONG PutCount;
static bool ShortRecordSeen;
// Output to a file or a pipe is gathered here and written in large pieces.
static char StdoutBuffer[1 << 16];

// Every end of the run writes out what is still buffered first.
static void EndRun(int status) {
  fflush(stdout);
  exit(status);
}

// On a terminal each print appears whole as it is made; redirected output
// is buffered.
static void SetUpConsole() {
  if (isatty(fileno(stdout)))
    setvbuf(stdout, nullptr, _IONBF, 0);
  else
    setvbuf(stdout, StdoutBuffer, _IOFBF, sizeof StdoutBuffer);
}

// The status for a failed connect: its reason code. Where a status keeps
// only its low 8 bits, a reason such as 2048 would end the run as a success.
static int ConnectFailureStatus(MQLONG reason) {
#ifdef _WIN32
  return reason;
#else
  return (reason & 0xFF) == 0 ? EXIT_CONNECT_LOW_BITS_ZERO : reason;
#endif
}

// Copies name into a 48-byte MQI field, with its NUL where there is room;
// the field's later bytes keep what they held.
static void CopyName(MQCHAR* field, const char* name) {
  size_t length = strlen(name);
  memcpy(field, name, length < MQ_Q_NAME_LENGTH ? length + 1 : length);
}

// The first of the names that does not fit its 48-byte field, or null.
static const char* FirstNameTooLong(const char** value) {
  static const char* const keys[] = {"InQueue", "OutQueue", "QueueMgr"};
  const char* const values[] = {ChannelSettings.InQueue,
                                ChannelSettings.OutQueue,
                                ChannelSettings.QueueMgr};
  for (int i = 0; i < 3; i++) {
    if (strlen(values[i]) > MQ_Q_NAME_LENGTH) {
      *value = values[i];
      return keys[i];
    }
  }
  return nullptr;
}

static void TakeSettingsPath(int argc, char** argv) {
  memset(SettingsPath, 0, sizeof SettingsPath);
  if (argc < 2) return;
  if (strlen(argv[1]) >= sizeof SettingsPath) {
    fprintf(stderr, "\nSettings path is longer than %d characters",
            SETTINGS_PATH_SIZE - 1);
    EndRun(EXIT_BAD_SETTINGS);
  }
  strcpy(SettingsPath, argv[1]);
}

static void CheckSettings() {
  if (SettingsValueTooLong) EndRun(EXIT_BAD_SETTINGS);
  const char* value = nullptr;
  const char* key = FirstNameTooLong(&value);
  if (key != nullptr) {
    fprintf(stderr, "\n%s [%s] is longer than %d characters", key, value,
            MQ_Q_NAME_LENGTH);
    EndRun(EXIT_BAD_SETTINGS);
  }
}

static void Connect() {
  printf("\nConnecting to Queue Mgr: [%s]", ChannelSettings.QueueMgr);
  MQCONN(ChannelSettings.QueueMgr, &Hconn, &CompCode, &Reason);
  if (CompCode == MQCC_FAILED) {
    printf("MQCONN ended with reason code %ld\n", (long)Reason);
    EndRun(ConnectFailureStatus(Reason));
  }
  printf("\nConnected to %s", ChannelSettings.QueueMgr);
}

static void OpenQueue() {
  CopyName(ObjDesc.ObjectName, ChannelSettings.InQueue);
  MQOPEN(Hconn, &ObjDesc, MQOO_OUTPUT | MQOO_FAIL_IF_QUIESCING, &Hobj,
         &CompCode, &Reason);
  if (Reason != MQRC_NONE) {
    printf("\nMQOPEN ended with reason code %ld\n", (long)Reason);
    EndRun(EXIT_OPEN_REASON);
  }
  if (CompCode == MQCC_FAILED) {
    printf("\nUnable to open queue for output\n");
    EndRun(EXIT_OPEN_FAILED);
  }
}

static void OpenBufferFile() {
  BufferFile = OpenInputFile(ChannelSettings.MessageBufferFile);
  if (BufferFile == nullptr) {
    printf("\nError opening [%s].  Error code: %d",
           ChannelSettings.MessageBufferFile, errno);
    EndRun(EXIT_BUFFER_FILE_OPEN);
  }
}

static void PutRecord() {
  CopyName(PutMsgDesc.V1.ReplyToQ, ChannelSettings.OutQueue);
  CopyName(PutMsgDesc.V1.ReplyToQMgr, ChannelSettings.QueueMgr);
  MQPUT(Hconn, Hobj, &PutMsgDesc, &PutMsgOpts, DataLength,
        RecordBuffer + DataOffset, &CompCode, &Reason);
  if (Reason != MQRC_NONE) {
    printf("MQPUT ended with reason code %ld\n", (long)Reason);
    return;
  }
  PutCount++;
  printf("\nMQPUT %ld message in [%s]", (long)PutCount,
         ChannelSettings.InQueue);
}

static void Replay() {
  for (;;) {
    int result = ReadNextRecord(&RecordLength, RecordBuffer);
    if (result == RECORD_END) return;
    if (result != RECORD_READ) {
      ShowRecordFault(result, ChannelSettings.MessageBufferFile);
      fclose(BufferFile);
      EndRun(EXIT_BAD_BUFFER_FILE);
    }
    DataLength = RecordLength - DataOffset;
    memcpy(&PutMsgDesc.V1, RecordMsgDesc, sizeof(MQMD));
    if (DataLength == 0) continue;
    if (DataLength < 0) {
      // Its descriptor would be partly an earlier record's bytes.
      printf("\nRecord %d is shorter than its header: %ld bytes; not put",
             RecordNumber, (long)RecordLength);
      ShortRecordSeen = true;
      continue;
    }
    PutRecord();
  }
}

int main(int argc, char** argv) {
  TakeSettingsPath(argc, argv);
  SetUpConsole();
  ReadChannelSettings();
  CheckSettings();
  Connect();
  OpenQueue();
  OpenBufferFile();
  Replay();
  fclose(BufferFile);
  EndRun(ShortRecordSeen ? EXIT_BAD_BUFFER_FILE : EXIT_REPLAYED);
}
