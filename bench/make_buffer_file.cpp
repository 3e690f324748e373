// Writes a message buffer file for the benchmarks: COUNT records of
// DATA_BYTES bytes each, with descriptors that vary from record to record
// (type, identifiers, priority, format, reply-to, dates) as a real
// transmission queue's would. PERSISTENCE (default 0) goes into every record.
//
//   make_buffer_file OUTPUT COUNT DATA_BYTES [PERSISTENCE]
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "buffer_file/buffer_file.h"
#include "tests/record_builder.h"

using namespace testing_records;

// Descriptors repeat with this period; every fourth record has no MsgId, so
// the queue manager makes one, as it does for messages put without one.
static Message Describe(long index, int persistence) {
  static const int32_t kTypes[] = {MQMT_DATAGRAM, MQMT_REQUEST, MQMT_REPLY,
                                   MQMT_REPORT};
  static const char* const kQueues[] = {"ORDERS.IN", "PRICES.REQUEST",
                                        "LEDGER.POST", "ORDERS.STATUS"};
  char text[32];
  Message m;
  int kind = static_cast<int>(index % 4);
  m.remote_q = kQueues[kind];
  m.remote_qmgr = index % 2 ? "BRANCH.QM" : "HQ.QM";
  m.msg_type = kTypes[kind];
  if (kind != 3) {
    snprintf(text, sizeof text, "MSG-%010ld", index);
    m.msg_id = text;
  }
  if (kind == 1) {
    m.reply_to_q = "PRICES.REPLY.HQ";
    m.reply_to_qmgr = "HQ.QM";
  }
  if (kind == 2) {
    snprintf(text, sizeof text, "MSG-%010ld", index - 1);
    m.correl_id = text;
  }
  m.priority = static_cast<int32_t>(index % 10);
  m.persistence = persistence;
  m.format = kind == 2 ? MQFMT_NONE : MQFMT_STRING;
  snprintf(text, sizeof text, "202612%02ld", 1 + index / 86400 % 28);
  m.put_date = text;
  snprintf(text, sizeof text, "%02ld%02ld%02ld%02ld", index / 3600 % 24,
           index / 60 % 60, index % 60, index % 100);
  m.put_time = text;
  return m;
}

static bool ParseCount(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  *value = strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && *value >= low && *value <= high;
}

int main(int argc, char** argv) {
  long count = 0, size = 0, persistence = 0;
  const long max_data = RECORD_BUFFER_SIZE - (long)sizeof(MQXQH);
  if ((argc != 4 && argc != 5) || !ParseCount(argv[2], 0, 100000000, &count) ||
      !ParseCount(argv[3], 0, max_data, &size) ||
      (argc == 5 && !ParseCount(argv[4], 0, 2, &persistence))) {
    fprintf(stderr,
            "usage: make_buffer_file OUTPUT COUNT DATA_BYTES [PERSISTENCE]\n"
            "       DATA_BYTES 0..%ld, PERSISTENCE 0, 1 or 2\n",
            max_data);
    return 2;
  }
  FILE* out = fopen(argv[1], "wb");
  if (out == nullptr) {
    perror(argv[1]);
    return 1;
  }
  std::string data(static_cast<size_t>(size), '\0');
  for (long i = 0; i < size; i++) data[i] = static_cast<char>('a' + i % 26);
  for (long i = 0; i < count; i++) {
    Message m = Describe(i, static_cast<int>(persistence));
    if (size > 0) data[0] = static_cast<char>('0' + i % 10);
    m.data = data;
    Bytes record = Record(m);
    if (fwrite(record.data(), 1, record.size(), out) != record.size()) break;
  }
  bool failed = ferror(out) != 0;
  if (fclose(out) != 0 || failed) {
    perror(argv[1]);
    return 1;
  }
  return 0;
}
