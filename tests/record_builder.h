// Builds message buffer files for tests: records with chosen header fields.
#ifndef TESTS_RECORD_BUILDER_H
#define TESTS_RECORD_BUILDER_H

#include <stdint.h>
#include <string.h>

#include <fstream>
#include <string>
#include <vector>

#include "mqi/mqi.h"

namespace testing_records {

using Bytes = std::string;

inline void PutLE32(Bytes& out, size_t at, int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; i++) out[at + i] = static_cast<char>(v >> (8 * i));
}

inline Bytes LE32(int32_t value) {
  Bytes out(4, '\0');
  PutLE32(out, 0, value);
  return out;
}

// Writes text into a field of width bytes: no NUL where it fills the field.
inline void PutText(Bytes& out, size_t at, size_t width,
                    const std::string& text) {
  memcpy(&out[at], text.data(), text.size() < width ? text.size() : width);
}

// The header fields a test usually cares about; everything else is the
// interface's default descriptor.
struct Message {
  std::string remote_q = "REMOTE.Q";
  std::string remote_qmgr = "REMOTE.QM";
  int32_t msg_type = MQMT_DATAGRAM;
  std::string msg_id;     // up to 24 bytes
  std::string correl_id;  // up to 24 bytes
  std::string reply_to_q;
  std::string reply_to_qmgr;
  std::string put_date = "20261211";
  std::string put_time = "11223344";
  int32_t persistence = MQPER_NOT_PERSISTENT;
  int32_t priority = 0;
  std::string format = MQFMT_STRING;
  std::string data;
};

// The 428-byte transmission header of a message.
inline Bytes Header(const Message& m) {
  Bytes h(sizeof(MQXQH), '\0');
  PutText(h, 0, 4, MQXQH_STRUC_ID);
  PutLE32(h, 4, MQXQH_VERSION_1);
  PutText(h, 8, 48, m.remote_q);
  PutText(h, 56, 48, m.remote_qmgr);
  MQMD md = MQMD_DEFAULT;
  memcpy(&h[104], &md, sizeof md);
  const size_t d = 104;
  PutLE32(h, d + 12, m.msg_type);
  PutText(h, d + 32, 8, m.format);
  PutLE32(h, d + 40, m.priority);
  PutLE32(h, d + 44, m.persistence);
  PutText(h, d + 48, 24, m.msg_id);
  PutText(h, d + 72, 24, m.correl_id);
  PutText(h, d + 100, 48, m.reply_to_q);
  PutText(h, d + 148, 48, m.reply_to_qmgr);
  PutText(h, d + 304, 8, m.put_date);
  PutText(h, d + 312, 8, m.put_time);
  return h;
}

// One whole record: length prefix, header, data.
inline Bytes Record(const Message& m) {
  Bytes body = Header(m) + m.data;
  return LE32(static_cast<int32_t>(body.size())) + body;
}

// A record whose body is the given bytes, whatever they are.
inline Bytes RawRecord(const Bytes& body) {
  return LE32(static_cast<int32_t>(body.size())) + body;
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
}

}  // namespace testing_records

#endif  // TESTS_RECORD_BUILDER_H
