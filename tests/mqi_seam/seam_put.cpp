// Puts one message on the queue named by its argument through the default
// queue manager, and says how each call ended.
#include <cstdio>
#include <cstring>

#include "mqi/mqi.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: seam_put QUEUE TEXT\n");
    return 2;
  }
  MQCHAR48 qmgr = {0};
  MQHCONN hconn = MQHC_UNUSABLE_HCONN;
  MQLONG cc = MQCC_FAILED, reason = MQRC_NONE;
  MQCONN(qmgr, &hconn, &cc, &reason);
  std::printf("MQCONN %d %d\n", static_cast<int>(cc), static_cast<int>(reason));
  if (cc != MQCC_OK) return 1;

  MQOD od = MQOD_DEFAULT;
  std::strncpy(od.ObjectName, argv[1], sizeof od.ObjectName);
  MQHOBJ hobj = MQHO_UNUSABLE_HOBJ;
  MQOPEN(hconn, &od, MQOO_OUTPUT, &hobj, &cc, &reason);
  std::printf("MQOPEN %d %d\n", static_cast<int>(cc), static_cast<int>(reason));
  if (cc != MQCC_OK) return 1;

  MQMD md = MQMD_DEFAULT;
  MQPMO pmo = MQPMO_DEFAULT;
  MQPUT(hconn, hobj, &md, &pmo, static_cast<MQLONG>(std::strlen(argv[2])),
        argv[2], &cc, &reason);
  std::printf("MQPUT %d %d\n", static_cast<int>(cc), static_cast<int>(reason));
  return cc == MQCC_OK ? 0 : 1;
}
