// MQCONN, MQOPEN and MQPUT over the folders described in names.h: one
// connection a process, any number of open queues, each put appended to the
// queue's messages file (messages_file.h).
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "localqm/attributes.h"
#include "localqm/messages_file.h"
#include "localqm/names.h"
#include "localqm/platform.h"
#include "mqi/mqi.h"

namespace localqm {
namespace {

constexpr MQHCONN kHconn = 1;

struct OpenQueue {
  std::string name;
  Attributes attributes;
  std::unique_ptr<MessagesFile> messages;
};

struct Connection {
  std::mutex mutex;
  bool connected = false;
  std::string qmgr;
  std::string folder;
  std::vector<std::unique_ptr<OpenQueue>> queues;
};

Connection& TheConnection() {
  static Connection* connection = new Connection;
  return *connection;
}

void SetResult(PMQLONG comp_code, PMQLONG reason, MQLONG cc, MQLONG rc) {
  if (comp_code != nullptr) *comp_code = cc;
  if (reason != nullptr) *reason = rc;
}

void PadField(char* field, size_t width, const std::string& text) {
  std::memset(field, ' ', width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

// The name in <root>/default: its first line, without surrounding blanks.
std::string DefaultQmgrName(const std::string& root) {
  std::ifstream in(DefaultQmgrPath(root), std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) return "";
  size_t end = line.find_last_not_of(" \t\r");
  return end == std::string::npos ? "" : line.substr(0, end + 1);
}

// PutDate "YYYYMMDD" and PutTime "HHMMSSTH", in UTC.
void SetPutDateTime(MQMD* md) {
  using namespace std::chrono;
  int64_t centis =
      duration_cast<milliseconds>(system_clock::now().time_since_epoch())
          .count() /
      10;
  int64_t days = centis / 8640000;
  int64_t of_day = centis % 8640000;
  // Days since 1970-01-01 to a civil date (Howard Hinnant's algorithm).
  int64_t z = days + 719468;
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d%02d%02d%02d%02d%02d%02d", static_cast<int>(year),
      static_cast<int>(month), static_cast<int>(day),
      static_cast<int>(of_day / 360000), static_cast<int>(of_day / 6000 % 60),
      static_cast<int>(of_day / 100 % 60), static_cast<int>(of_day % 100));
  std::memcpy(md->PutDate, text, 8);
  std::memcpy(md->PutTime, text + 8, 8);
}

// "LQM ", 12 random bytes drawn once a process, then a count: unique across
// processes (a forked child draws its own) and across runs.
void NewMsgId(MQBYTE* id) {
  static uint64_t drawn_for = 0;
  static uint8_t process_bytes[12];
  static uint64_t count = 0;
  uint64_t pid = platform::ProcessId();
  if (drawn_for != pid) {
    if (!platform::RandomBytes(process_bytes, sizeof process_bytes)) {
      uint64_t now = static_cast<uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count());
      std::memcpy(process_bytes, &now, 8);
      std::memcpy(process_bytes + 8, &pid, 4);
    }
    drawn_for = pid;
    count = 0;
  }
  ++count;
  std::memcpy(id, "LQM ", 4);
  std::memcpy(id + 4, process_bytes, sizeof process_bytes);
  for (int i = 0; i < 8; ++i) {
    id[16 + i] = static_cast<MQBYTE>(count >> (56 - 8 * i));
  }
}

bool IsAllZero(const MQBYTE* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// Fills in what a put with default context sets; see the MQPUT notes below.
void SetDefaultContext(MQMD* md, const std::string& qmgr) {
  static const std::string user = platform::UserName();
  static const std::string program = platform::ProgramName();
  PadField(md->UserIdentifier, sizeof md->UserIdentifier, user);
  std::memset(md->AccountingToken, 0, sizeof md->AccountingToken);
  PadField(md->ApplIdentityData, sizeof md->ApplIdentityData, "");
  md->PutApplType = platform::PutApplType();
  PadField(md->PutApplName, sizeof md->PutApplName, program);
  SetPutDateTime(md);
  PadField(md->ApplOriginData, sizeof md->ApplOriginData, "");
  if (IsAllZero(md->MsgId, sizeof md->MsgId)) NewMsgId(md->MsgId);
  md->BackoutCount = 0;
  std::string reply_q = NameFromField(md->ReplyToQ, sizeof md->ReplyToQ);
  std::string reply_qmgr =
      NameFromField(md->ReplyToQMgr, sizeof md->ReplyToQMgr);
  if (!reply_q.empty() && reply_qmgr.empty()) reply_qmgr = qmgr;
  PadField(md->ReplyToQ, sizeof md->ReplyToQ, reply_q);
  PadField(md->ReplyToQMgr, sizeof md->ReplyToQMgr, reply_qmgr);
}

OpenQueue* FindQueue(Connection& connection, MQHOBJ hobj) {
  if (hobj < 1 || static_cast<size_t>(hobj) > connection.queues.size()) {
    return nullptr;
  }
  return connection.queues[static_cast<size_t>(hobj) - 1].get();
}

void WriteLE32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace
}  // namespace localqm

using localqm::TheConnection;

extern "C" void MQENTRY MQCONN(PMQCHAR QMgrName, PMQHCONN Hconn,
                               PMQLONG CompCode, PMQLONG Reason) {
  using namespace localqm;
  Connection& connection = TheConnection();
  std::lock_guard<std::mutex> hold(connection.mutex);
  if (Hconn != nullptr) *Hconn = MQHC_UNUSABLE_HCONN;
  if (QMgrName == nullptr) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_Q_MGR_NAME_ERROR);
  }
  std::string root = DefaultRoot();
  std::string name = NameFromField(QMgrName, MQ_Q_MGR_NAME_LENGTH);
  if (name.empty()) name = DefaultQmgrName(root);
  if (!IsValidName(name) || !platform::IsFolder(QmgrFolder(root, name))) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_Q_MGR_NAME_ERROR);
  }
  std::string folder = QmgrFolder(root, name);
  if (Exists(StoppedPath(folder))) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_Q_MGR_NOT_AVAILABLE);
  }
  if (connection.connected) {
    if (name != connection.qmgr) {
      return SetResult(CompCode, Reason, MQCC_FAILED,
                       MQRC_ANOTHER_Q_MGR_CONNECTED);
    }
    if (Hconn != nullptr) *Hconn = kHconn;
    return SetResult(CompCode, Reason, MQCC_WARNING, MQRC_ALREADY_CONNECTED);
  }
  connection.connected = true;
  connection.qmgr = name;
  connection.folder = folder;
  if (Hconn != nullptr) *Hconn = kHconn;
  SetResult(CompCode, Reason, MQCC_OK, MQRC_NONE);
}

extern "C" void MQENTRY MQOPEN(MQHCONN Hconn, PMQVOID ObjDesc, MQLONG Options,
                               PMQHOBJ Hobj, PMQLONG CompCode, PMQLONG Reason) {
  using namespace localqm;
  Connection& connection = TheConnection();
  std::lock_guard<std::mutex> hold(connection.mutex);
  if (Hobj != nullptr) *Hobj = MQHO_UNUSABLE_HOBJ;
  if (!connection.connected || Hconn != kHconn) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_HCONN_ERROR);
  }
  MQOD od;
  if (ObjDesc != nullptr) std::memcpy(&od, ObjDesc, sizeof od);
  if (ObjDesc == nullptr || std::memcmp(od.StrucId, MQOD_STRUC_ID, 4) != 0 ||
      od.Version < 1 || od.Version > 4) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_OD_ERROR);
  }
  if (od.ObjectType != MQOT_Q) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_OBJECT_TYPE_ERROR);
  }
  if ((Options & MQOO_OUTPUT) == 0 ||
      (Options & ~(MQOO_OUTPUT | MQOO_FAIL_IF_QUIESCING)) != 0) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_OPTIONS_ERROR);
  }
  std::string qmgr = NameFromField(od.ObjectQMgrName, MQ_Q_MGR_NAME_LENGTH);
  if (!qmgr.empty() && qmgr != connection.qmgr) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_UNKNOWN_OBJECT_Q_MGR);
  }
  std::string queue = NameFromField(od.ObjectName, MQ_Q_NAME_LENGTH);
  std::string folder = QueueFolder(connection.folder, queue);
  if (!IsValidName(queue) || !platform::IsFolder(folder)) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_UNKNOWN_OBJECT_NAME);
  }
  auto open = std::make_unique<OpenQueue>();
  std::string ignored;
  if (!LoadAttributes(folder, &open->attributes, &ignored)) {
    return SetResult(CompCode, Reason, MQCC_FAILED, MQRC_RESOURCE_PROBLEM);
  }
  open->name = queue;
  open->messages = std::make_unique<MessagesFile>(MessagesPath(folder));
  connection.queues.push_back(std::move(open));
  if (Hobj != nullptr) *Hobj = static_cast<MQHOBJ>(connection.queues.size());
  SetResult(CompCode, Reason, MQCC_OK, MQRC_NONE);
}

// What is stored is the caller's descriptor with what a default-context put
// does (SetDefaultContext), Persistence and Priority resolved against the
// queue's defaults, and Version 1: the header holds an MQMD version 1, so a
// version 2 descriptor gives its first 324 bytes. The generated MsgId and
// the context are also written back to the caller's descriptor, as a queue
// manager does.
extern "C" void MQENTRY MQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID MsgDesc,
                              PMQVOID PutMsgOpts, MQLONG BufferLength,
                              PMQVOID Buffer, PMQLONG CompCode,
                              PMQLONG Reason) {
  using namespace localqm;
  Connection& connection = TheConnection();
  std::lock_guard<std::mutex> hold(connection.mutex);
  auto fail = [&](MQLONG reason) {
    SetResult(CompCode, Reason, MQCC_FAILED, reason);
  };
  if (!connection.connected || Hconn != kHconn) return fail(MQRC_HCONN_ERROR);
  OpenQueue* queue = FindQueue(connection, Hobj);
  if (queue == nullptr) return fail(MQRC_HOBJ_ERROR);

  MQMD md;
  if (MsgDesc != nullptr) std::memcpy(&md, MsgDesc, sizeof md);
  if (MsgDesc == nullptr || std::memcmp(md.StrucId, MQMD_STRUC_ID, 4) != 0 ||
      (md.Version != MQMD_VERSION_1 && md.Version != MQMD_VERSION_2)) {
    return fail(MQRC_MD_ERROR);
  }
  MQPMO pmo;
  if (PutMsgOpts != nullptr) std::memcpy(&pmo, PutMsgOpts, sizeof pmo);
  if (PutMsgOpts == nullptr ||
      std::memcmp(pmo.StrucId, MQPMO_STRUC_ID, 4) != 0 || pmo.Version < 1 ||
      pmo.Version > 3) {
    return fail(MQRC_PMO_ERROR);
  }
  if (pmo.Options != MQPMO_NONE) return fail(MQRC_OPTIONS_ERROR);
  if (BufferLength < 0) return fail(MQRC_BUFFER_LENGTH_ERROR);
  if (Buffer == nullptr && BufferLength > 0) return fail(MQRC_BUFFER_ERROR);
  if (md.Persistence != MQPER_NOT_PERSISTENT &&
      md.Persistence != MQPER_PERSISTENT &&
      md.Persistence != MQPER_PERSISTENCE_AS_Q_DEF) {
    return fail(MQRC_PERSISTENCE_ERROR);
  }
  if (md.Priority < MQPRI_PRIORITY_AS_Q_DEF) return fail(MQRC_PRIORITY_ERROR);
  if (md.MsgType == MQMT_REQUEST &&
      NameFromField(md.ReplyToQ, sizeof md.ReplyToQ).empty()) {
    return fail(MQRC_MISSING_REPLY_TO_Q);
  }
  const Attributes& attributes = queue->attributes;
  if (!attributes.put_enabled) return fail(MQRC_PUT_INHIBITED);
  if (BufferLength > attributes.max_msg_length) {
    return fail(MQRC_MSG_TOO_BIG_FOR_Q);
  }

  MQLONG reason = MQRC_NONE;
  md.Version = MQMD_VERSION_1;
  if (md.Persistence == MQPER_PERSISTENCE_AS_Q_DEF) {
    md.Persistence = attributes.def_persistence;
  }
  if (md.Priority == MQPRI_PRIORITY_AS_Q_DEF) {
    md.Priority = attributes.def_priority;
  } else if (md.Priority > 9) {
    md.Priority = 9;
    reason = MQRC_PRIORITY_EXCEEDS_MAXIMUM;
  }
  SetDefaultContext(&md, connection.qmgr);

  MQXQH header;
  std::memcpy(header.StrucId, MQXQH_STRUC_ID, 4);
  header.Version = MQXQH_VERSION_1;
  PadField(header.RemoteQName, sizeof header.RemoteQName, queue->name);
  PadField(header.RemoteQMgrName, sizeof header.RemoteQMgrName,
           connection.qmgr);
  header.MsgDesc = md;
  uint8_t prefix[kPrefixSize];
  uint32_t body_size = static_cast<uint32_t>(kHeaderSize + BufferLength);
  WriteLE32(prefix, body_size);
  platform::ConstBuffer parts[] = {
      {prefix, sizeof prefix},
      {&header, sizeof header},
      {Buffer, static_cast<size_t>(BufferLength)},
  };
  MQLONG appended = queue->messages->Append(parts, 3, kPrefixSize + body_size,
                                            attributes.max_depth,
                                            md.Persistence == MQPER_PERSISTENT);
  if (appended != MQRC_NONE) return fail(appended);

  auto* caller = static_cast<MQBYTE*>(MsgDesc);
  std::memcpy(caller + offsetof(MQMD, MsgId), md.MsgId, sizeof md.MsgId);
  size_t context_start = offsetof(MQMD, UserIdentifier);
  std::memcpy(caller + context_start,
              reinterpret_cast<const MQBYTE*>(&md) + context_start,
              sizeof md - context_start);
  SetResult(CompCode, Reason, reason == MQRC_NONE ? MQCC_OK : MQCC_WARNING,
            reason);
}
