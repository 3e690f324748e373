// A recording MQI: links in place of localqm so that tests can see every
// call the driver makes and choose what each call answers.
//
// RECORDING_MQI_LOG      file to which one line per call is appended:
//   MQCONN name=<text>
//   MQOPEN hconn=<n> options=<hex> od=<hex of 168 bytes>
//   MQPUT hconn=<n> hobj=<n> length=<n> md=<hex of 364 bytes>
//         pmo=<hex of 128 bytes> data=<hex of length bytes>     (one line)
// RECORDING_MQI_CONN     "<CompCode>,<Reason>" for MQCONN (default 0,0)
// RECORDING_MQI_OPEN     "<CompCode>,<Reason>" for MQOPEN (default 0,0)
// RECORDING_MQI_PUTS     "<CompCode>,<Reason>;..." for the puts in turn;
//                        puts beyond the list answer 0,0
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "mqi/mqi.h"

namespace {

const MQHCONN kHconn = 0x1234;
const MQHOBJ kHobj = 0x5678;
int put_count = 0;

std::string Hex(const void* bytes, long length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  for (long i = 0; i < length; i++) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

void Log(const std::string& line) {
  const char* path = getenv("RECORDING_MQI_LOG");
  if (path == nullptr || *path == '\0') return;
  FILE* log = fopen(path, "ab");
  if (log == nullptr) return;
  fprintf(log, "%s\n", line.c_str());
  fclose(log);
}

// Answers from "cc,reason;cc,reason;..." the entry at index, else 0,0.
void Answer(const char* variable, int index, PMQLONG comp_code,
            PMQLONG reason) {
  *comp_code = MQCC_OK;
  *reason = MQRC_NONE;
  const char* text = getenv(variable);
  if (text == nullptr) return;
  for (int i = 0; i < index && text != nullptr; i++) {
    text = strchr(text, ';');
    if (text != nullptr) text++;
  }
  if (text == nullptr || *text == '\0') return;
  long cc = 0, rc = 0;
  if (sscanf(text, "%ld,%ld", &cc, &rc) == 2) {
    *comp_code = static_cast<MQLONG>(cc);
    *reason = static_cast<MQLONG>(rc);
  }
}

}  // namespace

extern "C" {

void MQENTRY MQCONN(PMQCHAR QMgrName, PMQHCONN Hconn, PMQLONG CompCode,
                    PMQLONG Reason) {
  Log("MQCONN name=" + std::string(QMgrName, strnlen(QMgrName, 48)));
  *Hconn = kHconn;
  Answer("RECORDING_MQI_CONN", 0, CompCode, Reason);
}

void MQENTRY MQOPEN(MQHCONN Hconn, PMQVOID ObjDesc, MQLONG Options,
                    PMQHOBJ Hobj, PMQLONG CompCode, PMQLONG Reason) {
  char options[16];
  snprintf(options, sizeof options, "%lx", static_cast<long>(Options));
  Log("MQOPEN hconn=" + std::to_string(Hconn) + " options=" + options +
      " od=" + Hex(ObjDesc, sizeof(MQOD)));
  *Hobj = kHobj;
  Answer("RECORDING_MQI_OPEN", 0, CompCode, Reason);
}

void MQENTRY MQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID MsgDesc,
                   PMQVOID PutMsgOpts, MQLONG BufferLength, PMQVOID Buffer,
                   PMQLONG CompCode, PMQLONG Reason) {
  Log("MQPUT hconn=" + std::to_string(Hconn) + " hobj=" + std::to_string(Hobj) +
      " length=" + std::to_string(BufferLength) + " md=" +
      Hex(MsgDesc, sizeof(MQMD2)) + " pmo=" + Hex(PutMsgOpts, sizeof(MQPMO)) +
      " data=" + Hex(Buffer, BufferLength > 0 ? BufferLength : 0));
  Answer("RECORDING_MQI_PUTS", put_count++, CompCode, Reason);
}

}  // extern "C"
