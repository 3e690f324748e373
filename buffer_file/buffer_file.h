// The message buffer file: saved messages as they stood on a transmission
// queue, back to back, with no file header and no gaps.
//
//   record := length body
//   length := signed 32-bit little-endian count of the body's bytes, 0..10000
//   body   := MQXQH (428 bytes: StrucId, Version, RemoteQName[48],
//             RemoteQMgrName[48], MsgDesc = an MQMD version 1 at byte 104)
//             then the message data (length - 428 bytes)
//
// ReadNextRecord reads one record into RecordBuffer and shows its header
// fields on standard output in six lines. RecordBuffer is never cleared, so
// a record shorter than its header shows the later fields of an earlier one.
#ifndef BUFFER_FILE_BUFFER_FILE_H
#define BUFFER_FILE_BUFFER_FILE_H

#include <stdio.h>

#include "mqi/mqi.h"

// Size of the transmission header, and so where the message data begins.
#define DataOffset 428
// The most bytes that follow one length prefix.
#define RECORD_BUFFER_SIZE 10000
// Where the record's MQMD lies within the body.
#define RECORD_MSGDESC_OFFSET 104

// The current record's body; all NUL at the start of the run.
extern MQBYTE RecordBuffer[RECORD_BUFFER_SIZE];
// The current record's length prefix, as read.
extern MQLONG RecordLength;
// The current record's MQXQH and MQMD within RecordBuffer; null until the
// first record has been read.
extern MQBYTE* RecordHeader;
extern MQBYTE* RecordMsgDesc;
// The open buffer file; opened and closed by the driver.
extern FILE* BufferFile;

// Where the reader stands, for the messages about a damaged file: the number
// of the record last begun (counting from 1; 0 before the first), the byte
// offset of its length prefix, its length prefix as read (valid or not), how
// many of its body bytes were read, and the error number of a failed read.
// The offset of each prefix follows from the record before it, so reading
// another file from its first byte starts with ResetRecordReader.
extern int RecordNumber;
extern long RecordOffset;
extern MQLONG RecordPrefix;
extern long RecordBytesRead;
extern int RecordReadErrno;

// Results of ReadNextRecord.
#define RECORD_READ 0        // a record was read and shown
#define RECORD_END 1         // the end of the file: nothing stored or shown
#define RECORD_BAD_LENGTH 2  // a length prefix outside 0..10000
#define RECORD_CUT_SHORT 3   // the body was cut short by the end of the file
#define RECORD_UNREADABLE 4  // a read failed for a reason other than the end

// Reads the next record of BufferFile into buffer (RecordBuffer, 10000
// bytes), stores its length through length and shows its header lines.
// After a result other than RECORD_READ nothing is shown, and the length
// and both pointers keep what they held; so does the buffer, except after
// RECORD_CUT_SHORT, when its first RecordBytesRead bytes hold what there was
// of the cut record (the body is read straight into the buffer). After a
// damaged-file result the file is not read further.
int ReadNextRecord(MQLONG* length, MQBYTE* buffer);

// Puts the reader back as at the start of a run, to read another file from
// its first record: RecordBuffer all NUL, both pointers null, the counts 0.
void ResetRecordReader();

// Prints the one message for a damaged-file result (RECORD_BAD_LENGTH,
// RECORD_CUT_SHORT or RECORD_UNREADABLE) of the file at path.
void ShowRecordFault(int result, const char* path);

#endif  // BUFFER_FILE_BUFFER_FILE_H
