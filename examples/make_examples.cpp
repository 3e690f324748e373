// Writes the bundled example buffer file: a handful of varied messages as a
// transmission queue would hold them. Run: make_examples OUTPUT.buf
#include <stdio.h>

#include <string>

#include "tests/record_builder.h"

using namespace testing_records;

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_examples OUTPUT.buf\n");
    return 2;
  }

  Message datagram;
  datagram.remote_q = "ORDERS.IN";
  datagram.remote_qmgr = "HQ.QM";
  datagram.msg_id = "ORDER-0001";
  datagram.put_date = "20261201";
  datagram.put_time = "09150000";
  datagram.data = "<order id=\"1\"><item>widget</item><qty>3</qty></order>";

  Message request;
  request.remote_q = "PRICES.REQUEST";
  request.remote_qmgr = "HQ.QM";
  request.msg_type = MQMT_REQUEST;
  request.msg_id = "PRICE-REQ-0002";
  request.correl_id = "SESSION-42";
  request.reply_to_q = "PRICES.REPLY.HQ";  // replaced on replay
  request.reply_to_qmgr = "HQ.QM";
  request.put_date = "20261201";
  request.put_time = "09150125";
  request.data = "PRICE? widget";

  Message persistent;
  persistent.remote_q = "LEDGER.POST";
  persistent.remote_qmgr = "BRANCH.QM";
  persistent.msg_id = "LEDGER-0003";
  persistent.persistence = MQPER_PERSISTENT;
  persistent.priority = 5;
  persistent.format = MQFMT_NONE;
  persistent.put_date = "20261201";
  persistent.put_time = "09160833";
  persistent.data = std::string("\x01\x02\x00\xff binary ledger entry", 24);

  Message empty;  // a header with no data: shown, not put
  empty.remote_q = "HEARTBEAT";
  empty.remote_qmgr = "HQ.QM";
  empty.msg_id = "BEAT-0004";
  empty.put_date = "20261201";
  empty.put_time = "09170000";

  Message reply;
  reply.remote_q = "ORDERS.STATUS";
  reply.remote_qmgr = "HQ.QM";
  reply.msg_type = MQMT_REPLY;
  reply.msg_id = "STATUS-0005";
  reply.correl_id = "ORDER-0001";
  reply.put_date = "20261201";
  reply.put_time = "09175960";
  reply.data = "order 1 shipped";

  WriteFile(argv[1], Record(datagram) + Record(request) + Record(persistent) +
                         Record(empty) + Record(reply));
  return 0;
}
