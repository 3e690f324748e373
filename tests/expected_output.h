// What msgreplay is expected to print, for the driver and end-to-end tests.
#ifndef TESTS_EXPECTED_OUTPUT_H
#define TESTS_EXPECTED_OUTPUT_H

#include <string>

namespace testing_records {

// The six header lines shown for one record.
inline std::string ShownHeader(
    const std::string& remote_q, const std::string& remote_qm,
    const std::string& reply_q, const std::string& reply_qm, long type,
    const std::string& msg_id, const std::string& correl_id,
    const std::string& date, const std::string& time) {
  return "\n\nRemoteQName: [" + remote_q + "]\nQueue Manager: [" + remote_qm +
         "]\nReplyToQ: [" + reply_q + "]\nReplyToQMgr: [" + reply_qm +
         "]\nMsg Type: [" + std::to_string(type) + "]    MsgID: [" + msg_id +
         "].   CorrelID: [" + correl_id + "] \nPutDate: [" + date +
         "]   PutTime: [" + time + "]";
}

// Every line feed as a carriage return and a line feed, as Windows writes
// text-mode output.
inline std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

}  // namespace testing_records

#endif  // TESTS_EXPECTED_OUTPUT_H
