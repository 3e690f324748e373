// The Message Queue Interface as msgreplay uses it: the integer and text
// types, the four structures it reads or passes (MQMD, MQXQH, MQOD, MQPMO),
// their initial values, the constants it and localqm need, and the three
// calls MQCONN, MQOPEN and MQPUT.
//
// Written from the published layouts. Every structure is a run of 4-byte
// integers and byte arrays whose widths are multiples of 4, so the natural
// layout has no padding; the static_asserts at the end pin each size and each
// field offset, since stored records and a real MQI library depend on them.
#ifndef MQI_MQI_H
#define MQI_MQI_H

#include <stddef.h>
#include <stdint.h>

typedef int32_t MQLONG;
typedef int32_t MQHCONN;
typedef int32_t MQHOBJ;
typedef char MQCHAR;
typedef unsigned char MQBYTE;
typedef void MQVOID;

typedef MQCHAR MQCHAR4[4];
typedef MQCHAR MQCHAR8[8];
typedef MQCHAR MQCHAR12[12];
typedef MQCHAR MQCHAR28[28];
typedef MQCHAR MQCHAR32[32];
typedef MQCHAR MQCHAR48[48];
typedef MQBYTE MQBYTE24[24];
typedef MQBYTE MQBYTE32[32];

typedef MQCHAR* PMQCHAR;
typedef MQLONG* PMQLONG;
typedef MQHCONN* PMQHCONN;
typedef MQHOBJ* PMQHOBJ;
typedef MQVOID* PMQVOID;

// The platform library on 32-bit Windows exports its calls as __stdcall.
#if defined(_WIN32) && !defined(_WIN64)
#define MQENTRY __stdcall
#else
#define MQENTRY
#endif

// Width of every queue and queue manager name field.
#define MQ_Q_NAME_LENGTH 48
#define MQ_Q_MGR_NAME_LENGTH 48

// Completion codes.
#define MQCC_OK 0
#define MQCC_WARNING 1
#define MQCC_FAILED 2

// Reason codes.
#define MQRC_NONE 0
#define MQRC_ALREADY_CONNECTED 2002
#define MQRC_BUFFER_ERROR 2004
#define MQRC_BUFFER_LENGTH_ERROR 2005
#define MQRC_HCONN_ERROR 2018
#define MQRC_HOBJ_ERROR 2019
#define MQRC_MD_ERROR 2026
#define MQRC_MISSING_REPLY_TO_Q 2027
#define MQRC_MSG_TOO_BIG_FOR_Q 2030
#define MQRC_NOT_AUTHORIZED 2035
#define MQRC_OBJECT_TYPE_ERROR 2043
#define MQRC_OD_ERROR 2044
#define MQRC_OPTIONS_ERROR 2046
#define MQRC_PERSISTENCE_ERROR 2047
#define MQRC_PRIORITY_EXCEEDS_MAXIMUM 2049
#define MQRC_PRIORITY_ERROR 2050
#define MQRC_PUT_INHIBITED 2051
#define MQRC_Q_FULL 2053
#define MQRC_Q_MGR_NAME_ERROR 2058
#define MQRC_Q_MGR_NOT_AVAILABLE 2059
#define MQRC_UNKNOWN_OBJECT_NAME 2085
#define MQRC_UNKNOWN_OBJECT_Q_MGR 2086
#define MQRC_RESOURCE_PROBLEM 2102
#define MQRC_ANOTHER_Q_MGR_CONNECTED 2103
#define MQRC_PMO_ERROR 2173

// Object types and open options.
#define MQOT_Q 1
#define MQOO_OUTPUT 0x00000010
#define MQOO_FAIL_IF_QUIESCING 0x00002000

// Put-message options.
#define MQPMO_NONE 0x00000000

// Handle values a failed MQCONN or MQOPEN leaves.
#define MQHC_UNUSABLE_HCONN (-1)
#define MQHO_UNUSABLE_HOBJ (-1)

// Message descriptor values.
#define MQMT_REQUEST 1
#define MQMT_REPLY 2
#define MQMT_REPORT 4
#define MQMT_DATAGRAM 8
#define MQPER_NOT_PERSISTENT 0
#define MQPER_PERSISTENT 1
#define MQPER_PERSISTENCE_AS_Q_DEF 2
#define MQPRI_PRIORITY_AS_Q_DEF (-1)
#define MQEI_UNLIMITED (-1)
#define MQRO_NONE 0
#define MQFB_NONE 0
#define MQENC_NATIVE 0x00000222
#define MQCCSI_Q_MGR 0
#define MQAT_UNIX 6
#define MQAT_WINDOWS_NT 11

// Structure identifiers and versions.
#define MQMD_STRUC_ID "MD  "
#define MQXQH_STRUC_ID "XQH "
#define MQOD_STRUC_ID "OD  "
#define MQPMO_STRUC_ID "PMO "
#define MQMD_VERSION_1 1
#define MQMD_VERSION_2 2
#define MQXQH_VERSION_1 1
#define MQOD_VERSION_1 1
#define MQPMO_VERSION_1 1

// Message formats (8 characters, blank padded).
#define MQFMT_NONE "        "
#define MQFMT_STRING "MQSTR   "

// Message descriptor, version 1: 324 bytes.
typedef struct tagMQMD {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG Report;
  MQLONG MsgType;
  MQLONG Expiry;
  MQLONG Feedback;
  MQLONG Encoding;
  MQLONG CodedCharSetId;
  MQCHAR8 Format;
  MQLONG Priority;
  MQLONG Persistence;
  MQBYTE24 MsgId;
  MQBYTE24 CorrelId;
  MQLONG BackoutCount;
  MQCHAR48 ReplyToQ;
  MQCHAR48 ReplyToQMgr;
  MQCHAR12 UserIdentifier;
  MQBYTE32 AccountingToken;
  MQCHAR32 ApplIdentityData;
  MQLONG PutApplType;
  MQCHAR28 PutApplName;
  MQCHAR8 PutDate;
  MQCHAR8 PutTime;
  MQCHAR4 ApplOriginData;
} MQMD;

// The fields that version 2 adds after the first 324 bytes.
typedef struct tagMQMD2 {
  MQMD V1;
  MQBYTE24 GroupId;
  MQLONG MsgSeqNumber;
  MQLONG Offset;
  MQLONG MsgFlags;
  MQLONG OriginalLength;
} MQMD2;

// Transmission queue header: 428 bytes, the message's own MQMD at byte 104.
typedef struct tagMQXQH {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQCHAR48 RemoteQName;
  MQCHAR48 RemoteQMgrName;
  MQMD MsgDesc;
} MQXQH;

// Object descriptor, version 1: 168 bytes.
typedef struct tagMQOD {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG ObjectType;
  MQCHAR48 ObjectName;
  MQCHAR48 ObjectQMgrName;
  MQCHAR48 DynamicQName;
  MQCHAR12 AlternateUserId;
} MQOD;

// Put-message options, version 1: 128 bytes.
typedef struct tagMQPMO {
  MQCHAR4 StrucId;
  MQLONG Version;
  MQLONG Options;
  MQLONG Timeout;
  MQHOBJ Context;
  MQLONG KnownDestCount;
  MQLONG UnknownDestCount;
  MQLONG InvalidDestCount;
  MQCHAR48 ResolvedQName;
  MQCHAR48 ResolvedQMgrName;
} MQPMO;

// Initial values, for use as `MQOD ObjDesc = MQOD_DEFAULT;`. Identifiers are
// spelled out as characters because a C++ array initialiser has no room for
// a string literal's NUL.
// clang-format off
#define MQOD_DEFAULT                                                       \
  {                                                                        \
    {'O', 'D', ' ', ' '}, MQOD_VERSION_1, MQOT_Q, {0}, {0},                \
        {'A', 'M', 'Q', '.', '*'}, {0}                                     \
  }

#define MQPMO_DEFAULT                                                      \
  {                                                                        \
    {'P', 'M', 'O', ' '}, MQPMO_VERSION_1, MQPMO_NONE, -1, 0, 0, 0, 0,     \
        {0}, {0}                                                           \
  }

#define MQMD_DEFAULT                                                       \
  {                                                                        \
    {'M', 'D', ' ', ' '}, MQMD_VERSION_1, MQRO_NONE, MQMT_DATAGRAM,        \
        MQEI_UNLIMITED, MQFB_NONE, MQENC_NATIVE, MQCCSI_Q_MGR,             \
        {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '}, MQPRI_PRIORITY_AS_Q_DEF, \
        MQPER_PERSISTENCE_AS_Q_DEF, {0}, {0}, 0, {0}, {0}, {0}, {0}, {0},  \
        0, {0}, {0}, {0}, {0}                                              \
  }
// clang-format on

#ifdef __cplusplus
extern "C" {
#endif

void MQENTRY MQCONN(PMQCHAR QMgrName, PMQHCONN Hconn, PMQLONG CompCode,
                    PMQLONG Reason);

void MQENTRY MQOPEN(MQHCONN Hconn, PMQVOID ObjDesc, MQLONG Options,
                    PMQHOBJ Hobj, PMQLONG CompCode, PMQLONG Reason);

void MQENTRY MQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQVOID MsgDesc,
                   PMQVOID PutMsgOpts, MQLONG BufferLength, PMQVOID Buffer,
                   PMQLONG CompCode, PMQLONG Reason);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define MQI_STATIC_ASSERT static_assert
#else
#define MQI_STATIC_ASSERT _Static_assert
#endif

#define MQI_AT(type, field, offset)                    \
  MQI_STATIC_ASSERT(offsetof(type, field) == (offset), \
                    #type "." #field " must start at byte " #offset)

MQI_STATIC_ASSERT(sizeof(MQMD) == 324, "MQMD version 1 is 324 bytes");
MQI_AT(MQMD, StrucId, 0);
MQI_AT(MQMD, Version, 4);
MQI_AT(MQMD, Report, 8);
MQI_AT(MQMD, MsgType, 12);
MQI_AT(MQMD, Expiry, 16);
MQI_AT(MQMD, Feedback, 20);
MQI_AT(MQMD, Encoding, 24);
MQI_AT(MQMD, CodedCharSetId, 28);
MQI_AT(MQMD, Format, 32);
MQI_AT(MQMD, Priority, 40);
MQI_AT(MQMD, Persistence, 44);
MQI_AT(MQMD, MsgId, 48);
MQI_AT(MQMD, CorrelId, 72);
MQI_AT(MQMD, BackoutCount, 96);
MQI_AT(MQMD, ReplyToQ, 100);
MQI_AT(MQMD, ReplyToQMgr, 148);
MQI_AT(MQMD, UserIdentifier, 196);
MQI_AT(MQMD, AccountingToken, 208);
MQI_AT(MQMD, ApplIdentityData, 240);
MQI_AT(MQMD, PutApplType, 272);
MQI_AT(MQMD, PutApplName, 276);
MQI_AT(MQMD, PutDate, 304);
MQI_AT(MQMD, PutTime, 312);
MQI_AT(MQMD, ApplOriginData, 320);

MQI_STATIC_ASSERT(sizeof(MQMD2) == 364, "MQMD version 2 is 364 bytes");
MQI_AT(MQMD2, GroupId, 324);
MQI_AT(MQMD2, MsgSeqNumber, 348);
MQI_AT(MQMD2, Offset, 352);
MQI_AT(MQMD2, MsgFlags, 356);
MQI_AT(MQMD2, OriginalLength, 360);

MQI_STATIC_ASSERT(sizeof(MQXQH) == 428, "MQXQH is 428 bytes");
MQI_AT(MQXQH, StrucId, 0);
MQI_AT(MQXQH, Version, 4);
MQI_AT(MQXQH, RemoteQName, 8);
MQI_AT(MQXQH, RemoteQMgrName, 56);
MQI_AT(MQXQH, MsgDesc, 104);

MQI_STATIC_ASSERT(sizeof(MQOD) == 168, "MQOD version 1 is 168 bytes");
MQI_AT(MQOD, StrucId, 0);
MQI_AT(MQOD, Version, 4);
MQI_AT(MQOD, ObjectType, 8);
MQI_AT(MQOD, ObjectName, 12);
MQI_AT(MQOD, ObjectQMgrName, 60);
MQI_AT(MQOD, DynamicQName, 108);
MQI_AT(MQOD, AlternateUserId, 156);

MQI_STATIC_ASSERT(sizeof(MQPMO) == 128, "MQPMO version 1 is 128 bytes");
MQI_AT(MQPMO, StrucId, 0);
MQI_AT(MQPMO, Version, 4);
MQI_AT(MQPMO, Options, 8);
MQI_AT(MQPMO, Timeout, 12);
MQI_AT(MQPMO, Context, 16);
MQI_AT(MQPMO, KnownDestCount, 20);
MQI_AT(MQPMO, UnknownDestCount, 24);
MQI_AT(MQPMO, InvalidDestCount, 28);
MQI_AT(MQPMO, ResolvedQName, 32);
MQI_AT(MQPMO, ResolvedQMgrName, 80);

#undef MQI_AT

#endif  // MQI_MQI_H
