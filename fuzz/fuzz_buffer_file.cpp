// Any bytes as a message buffer file, read over the whole loop as the
// driver reads it: each record shown, its descriptor copied and its data
// read as a put would read it. Beyond the sanitizers' checks, every record
// handed on must be one that the file held whole, at the place where the
// record before it ended, and every other ending must be the one the bytes
// call for.
#include <string.h>

#include "buffer_file/buffer_file.h"
#include "buffer_file/input_file.h"
#include "fuzz/fuzz_support.h"

static uint32_t LE32At(const uint8_t* bytes) {
  return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 |
         (uint32_t)bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

// What the driver does with a record: copy its descriptor and hand its data
// to MQPUT, which reads every byte of it.
static void UseRecord() {
  MQMD desc;
  memcpy(&desc, RecordMsgDesc, sizeof desc);
  MQLONG data_length = RecordLength - DataOffset;
  volatile uint8_t sum = (uint8_t)desc.MsgType;
  for (MQLONG i = 0; i < data_length; i++) sum += RecordBuffer[DataOffset + i];
  (void)sum;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::SilenceStdio();
  fuzz::WriteInput(data, size);
  ResetRecordReader();
  BufferFile = OpenInputFile(fuzz::InputPath().c_str());
  FUZZ_CHECK(BufferFile != nullptr);

  size_t at = 0;  // where the next length prefix lies
  int number = 0;
  int result;
  while ((result = ReadNextRecord(&RecordLength, RecordBuffer)) ==
         RECORD_READ) {
    number++;
    FUZZ_CHECK(RecordNumber == number && RecordOffset == (long)at);
    FUZZ_CHECK(RecordLength >= 0 && RecordLength <= RECORD_BUFFER_SIZE);
    FUZZ_CHECK(at + 4 + RecordLength <= size);
    FUZZ_CHECK(LE32At(data + at) == (uint32_t)RecordLength);
    FUZZ_CHECK(memcmp(RecordBuffer, data + at + 4, RecordLength) == 0);
    FUZZ_CHECK(RecordHeader == RecordBuffer &&
               RecordMsgDesc == RecordBuffer + 104);
    UseRecord();
    at += 4 + RecordLength;
  }

  size_t left = size - at;
  switch (result) {
    case RECORD_END:  // nothing, or 1 to 3 stray bytes
      FUZZ_CHECK(left < 4);
      break;
    case RECORD_BAD_LENGTH: {
      FUZZ_CHECK(left >= 4 && RecordOffset == (long)at);
      FUZZ_CHECK(RecordNumber == number + 1);
      int32_t prefix = (int32_t)LE32At(data + at);
      FUZZ_CHECK(prefix == RecordPrefix);
      FUZZ_CHECK(prefix < 0 || prefix > RECORD_BUFFER_SIZE);
      break;
    }
    case RECORD_CUT_SHORT: {
      FUZZ_CHECK(left >= 4 && RecordOffset == (long)at);
      FUZZ_CHECK(RecordNumber == number + 1);
      int32_t prefix = (int32_t)LE32At(data + at);
      FUZZ_CHECK(prefix == RecordPrefix && (size_t)prefix > left - 4);
      FUZZ_CHECK(RecordBytesRead == (long)(left - 4));
      break;
    }
    default:  // a scratch file that cannot be read is not the input's doing
      FUZZ_CHECK(false);
  }
  if (result != RECORD_END) ShowRecordFault(result, fuzz::InputPath().c_str());
  fclose(BufferFile);
  BufferFile = nullptr;
  return 0;
}
