#include "buffer_file/buffer_file.h"

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

MQBYTE RecordBuffer[RECORD_BUFFER_SIZE];
MQLONG RecordLength;
MQBYTE* RecordHeader;
MQBYTE* RecordMsgDesc;
FILE* BufferFile;

int RecordNumber;
long RecordOffset;
MQLONG RecordPrefix;
long RecordBytesRead;
int RecordReadErrno;

static_assert(sizeof(MQXQH) == DataOffset, "MQXQH is 428 bytes");
static_assert(offsetof(MQXQH, MsgDesc) == RECORD_MSGDESC_OFFSET,
              "the MQMD lies at byte 104 of the MQXQH");

#define LENGTH_PREFIX_SIZE 4
// Each shown field is formed in a text area of this size, ample for 48 bytes.
#define SHOWN_TEXT_SIZE 100
#define NAME_WIDTH 48

static MQLONG ReadLE32(const MQBYTE* bytes) {
  uint32_t value = (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 |
                   (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
  return (MQLONG)value;
}

// The end of the file within a prefix, 1 to 3 stray bytes included, is the
// normal end; only a failing read is a fault.
static int ReadLengthPrefix(MQLONG* prefix) {
  MQBYTE bytes[LENGTH_PREFIX_SIZE];
  errno = 0;
  if (fread(bytes, 1, LENGTH_PREFIX_SIZE, BufferFile) < LENGTH_PREFIX_SIZE) {
    RecordReadErrno = errno;
    return ferror(BufferFile) ? RECORD_UNREADABLE : RECORD_END;
  }
  *prefix = ReadLE32(bytes);
  return RECORD_READ;
}

static int ReadBody(MQBYTE* buffer, MQLONG length) {
  errno = 0;
  size_t count = fread(buffer, 1, (size_t)length, BufferFile);
  RecordBytesRead = (long)count;
  if (count == (size_t)length) return RECORD_READ;
  RecordReadErrno = errno;
  return ferror(BufferFile) ? RECORD_UNREADABLE : RECORD_CUT_SHORT;
}

// Copies a 48-byte name up to its first NUL; text must be all NUL.
static void CopyName(char* text, const MQBYTE* field) {
  for (int i = 0; i < NAME_WIDTH && field[i] != 0; i++) text[i] = field[i];
}

static void ClearTexts(char* first, char* second) {
  memset(first, 0, SHOWN_TEXT_SIZE);
  memset(second, 0, SHOWN_TEXT_SIZE);
}

static void ShowRecordHeader() {
  const MQBYTE* header = RecordHeader;
  const MQBYTE* desc = RecordMsgDesc;
  char first[SHOWN_TEXT_SIZE];
  char second[SHOWN_TEXT_SIZE];

  ClearTexts(first, second);
  CopyName(first, header + offsetof(MQXQH, RemoteQName));
  CopyName(second, header + offsetof(MQXQH, RemoteQMgrName));
  printf("\n\nRemoteQName: [%s]\nQueue Manager: [%s]", first, second);

  ClearTexts(first, second);
  CopyName(first, desc + offsetof(MQMD, ReplyToQ));
  CopyName(second, desc + offsetof(MQMD, ReplyToQMgr));
  printf("\nReplyToQ: [%s]\nReplyToQMgr: [%s]", first, second);

  ClearTexts(first, second);
  memcpy(first, desc + offsetof(MQMD, MsgId), sizeof(MQBYTE24));
  memcpy(second, desc + offsetof(MQMD, CorrelId), sizeof(MQBYTE24));
  printf("\nMsg Type: [%ld]    MsgID: [%s].   CorrelID: [%s] ",
         (long)ReadLE32(desc + offsetof(MQMD, MsgType)), first, second);

  ClearTexts(first, second);
  memcpy(first, desc + offsetof(MQMD, PutDate), sizeof(MQCHAR8));
  memcpy(second, desc + offsetof(MQMD, PutTime), sizeof(MQCHAR8));
  printf("\nPutDate: [%s]   PutTime: [%s]", first, second);
}

int ReadNextRecord(MQLONG* length, MQBYTE* buffer) {
  long offset =
      RecordNumber == 0 ? 0 : RecordOffset + LENGTH_PREFIX_SIZE + RecordPrefix;
  MQLONG prefix;
  int result = ReadLengthPrefix(&prefix);
  if (result != RECORD_READ) return result;

  RecordNumber++;
  RecordOffset = offset;
  RecordPrefix = prefix;
  RecordBytesRead = 0;
  // Checked before the body is read, so nothing lands past the buffer.
  if (prefix < 0 || prefix > RECORD_BUFFER_SIZE) return RECORD_BAD_LENGTH;
  result = ReadBody(buffer, prefix);
  if (result != RECORD_READ) return result;

  *length = prefix;
  RecordHeader = buffer;
  RecordMsgDesc = buffer + RECORD_MSGDESC_OFFSET;
  ShowRecordHeader();
  return RECORD_READ;
}

void ResetRecordReader() {
  memset(RecordBuffer, 0, sizeof RecordBuffer);
  RecordLength = 0;
  RecordHeader = nullptr;
  RecordMsgDesc = nullptr;
  RecordNumber = 0;
  RecordOffset = 0;
  RecordPrefix = 0;
  RecordBytesRead = 0;
  RecordReadErrno = 0;
}

void ShowRecordFault(int result, const char* path) {
  switch (result) {
    case RECORD_BAD_LENGTH:
      printf("\nRecord %d at byte %ld has an invalid length %ld", RecordNumber,
             RecordOffset, (long)RecordPrefix);
      break;
    case RECORD_CUT_SHORT:
      printf("\nRecord %d at byte %ld is cut short: %ld of %ld bytes",
             RecordNumber, RecordOffset, RecordBytesRead, (long)RecordPrefix);
      break;
    case RECORD_UNREADABLE:
      printf("\nError reading [%s].  Error code: %d", path, RecordReadErrno);
      break;
  }
}
