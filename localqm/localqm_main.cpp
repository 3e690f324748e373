// localqm: creates, inspects and clears the local queue manager's queues.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "localqm/admin.h"
#include "localqm/attributes.h"
#include "localqm/names.h"

namespace {

// Exit statuses.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the command failed; one line says why
constexpr int kExitUsage = 2;    // the command line was wrong

constexpr size_t kDataShown = 64;

const char kUsage[] =
    "usage: localqm [--root DIR] create QMGR [--default]\n"
    "       localqm [--root DIR] define QMGR QUEUE [--max-depth N]\n"
    "                 [--max-msg-length N] [--put enabled|disabled]\n"
    "                 [--def-persistence 0|1] [--def-priority 0-9]\n"
    "       localqm [--root DIR] stop QMGR\n"
    "       localqm [--root DIR] start QMGR\n"
    "       localqm [--root DIR] list QMGR\n"
    "       localqm [--root DIR] browse QMGR QUEUE\n"
    "       localqm [--root DIR] clear QMGR QUEUE\n"
    "The root folder is DIR, else $LOCALQM_ROOT, else ./qmgrs.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "localqm: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "localqm: %s\n", message.c_str());
  return kExitFailure;
}

struct CommandLine {
  std::string root;
  std::string command;
  std::vector<std::string> operands;
  std::map<std::string, std::string> options;  // "--default" maps to ""
};

bool TakesValue(const std::string& option) {
  return option == "--root" || option == "--max-depth" ||
         option == "--max-msg-length" || option == "--put" ||
         option == "--def-persistence" || option == "--def-priority";
}

bool Parse(int argc, char** argv, CommandLine* line, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      if (arg != "--default" && !TakesValue(arg)) {
        *error = "unknown option " + arg;
        return false;
      }
      std::string value;
      if (TakesValue(arg)) {
        if (i + 1 == argc) {
          *error = "option " + arg + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      if (!line->options.emplace(arg, value).second) {
        *error = "option " + arg + " given twice";
        return false;
      }
    } else if (line->command.empty()) {
      line->command = arg;
    } else {
      line->operands.push_back(arg);
    }
  }
  auto root = line->options.find("--root");
  if (root != line->options.end()) {
    if (root->second.empty()) {
      *error = "option --root needs a folder";
      return false;
    }
    line->root = root->second;
    line->options.erase(root);
  } else {
    line->root = localqm::DefaultRoot();
  }
  return true;
}

// Checks the operand count and that only the allowed options were given.
bool Expect(const CommandLine& line, size_t operands,
            const std::vector<std::string>& allowed, std::string* error) {
  if (line.operands.size() != operands) {
    *error = line.command + " takes " + std::to_string(operands) +
             (operands == 1 ? " name" : " names") + ", not " +
             std::to_string(line.operands.size());
    return false;
  }
  for (const auto& option : line.options) {
    bool ok = false;
    for (const std::string& name : allowed) ok = ok || option.first == name;
    if (!ok) {
      *error = "option " + option.first + " does not apply to " + line.command;
      return false;
    }
  }
  return true;
}

bool ParseDefineOptions(const CommandLine& line,
                        localqm::Attributes* attributes, std::string* error) {
  for (const auto& [option, value] : line.options) {
    int64_t number = 0;
    bool ok = true;
    if (option == "--max-depth") {
      ok = localqm::ParseCount(value, localqm::kMaxMaxDepth, &number);
      attributes->max_depth = number;
    } else if (option == "--max-msg-length") {
      ok = localqm::ParseCount(value, localqm::kMaxMaxMsgLength, &number);
      attributes->max_msg_length = number;
    } else if (option == "--put") {
      ok = value == "enabled" || value == "disabled";
      attributes->put_enabled = value == "enabled";
    } else if (option == "--def-persistence") {
      ok = localqm::ParseCount(value, 1, &number);
      attributes->def_persistence = static_cast<int32_t>(number);
    } else if (option == "--def-priority") {
      ok = localqm::ParseCount(value, 9, &number);
      attributes->def_priority = static_cast<int32_t>(number);
    }
    if (!ok) {
      *error = "bad value '" + value + "' for " + option;
      return false;
    }
  }
  return true;
}

// A field's text without trailing blanks and NULs, non-printing bytes
// escaped.
std::string Escape(const char* bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\\' || c == '"') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c == '\r') {
      text += "\\r";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

std::string FieldText(const char* field, size_t width) {
  size_t size = width;
  while (size > 0 && (field[size - 1] == ' ' || field[size - 1] == '\0')) {
    --size;
  }
  return Escape(field, size);
}

std::string Hex(const MQBYTE* bytes, size_t size) {
  std::string text;
  char digits[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    text += digits;
  }
  return text;
}

const char* MsgTypeName(MQLONG type) {
  switch (type) {
    case MQMT_REQUEST:
      return "request";
    case MQMT_REPLY:
      return "reply";
    case MQMT_REPORT:
      return "report";
    case MQMT_DATAGRAM:
      return "datagram";
    default:
      return "other";
  }
}

const char* PersistenceName(MQLONG persistence) {
  switch (persistence) {
    case MQPER_NOT_PERSISTENT:
      return "not persistent";
    case MQPER_PERSISTENT:
      return "persistent";
    default:
      return "other";
  }
}

void ShowMessage(const localqm::BrowsedMessage& message) {
  const MQMD& md = message.header.MsgDesc;
  std::printf("Message %llu\n",
              static_cast<unsigned long long>(message.number));
  std::printf("  Length       %lu\n",
              static_cast<unsigned long>(message.data_length));
  std::printf("  MsgId        %s\n", Hex(md.MsgId, sizeof md.MsgId).c_str());
  std::printf("  CorrelId     %s\n",
              Hex(md.CorrelId, sizeof md.CorrelId).c_str());
  std::printf("  MsgType      %d (%s)\n", static_cast<int>(md.MsgType),
              MsgTypeName(md.MsgType));
  std::printf("  Persistence  %d (%s)\n", static_cast<int>(md.Persistence),
              PersistenceName(md.Persistence));
  std::printf("  Priority     %d\n", static_cast<int>(md.Priority));
  std::printf("  Format       %s\n",
              FieldText(md.Format, sizeof md.Format).c_str());
  std::printf("  ReplyToQ     %s\n",
              FieldText(md.ReplyToQ, sizeof md.ReplyToQ).c_str());
  std::printf("  ReplyToQMgr  %s\n",
              FieldText(md.ReplyToQMgr, sizeof md.ReplyToQMgr).c_str());
  std::printf("  PutDate      %s\n",
              Escape(md.PutDate, sizeof md.PutDate).c_str());
  std::printf("  PutTime      %s\n",
              Escape(md.PutTime, sizeof md.PutTime).c_str());
  std::printf(
      "  Data         \"%s\"%s\n",
      Escape(message.data_start.data(), message.data_start.size()).c_str(),
      message.data_length > message.data_start.size() ? "..." : "");
}

int Browse(const CommandLine& line) {
  const std::string& qmgr = line.operands[0];
  const std::string& queue = line.operands[1];
  std::string error;
  localqm::ScanResult end;
  bool ok = localqm::BrowseQueue(line.root, qmgr, queue, kDataShown,
                                 ShowMessage, &end, &error);
  if (ok) {
    std::printf("%llu message%s on queue %s\n",
                static_cast<unsigned long long>(end.records),
                end.records == 1 ? "" : "s", queue.c_str());
    if (!end.problem.empty()) std::printf("then a %s\n", end.problem.c_str());
  }
  std::fflush(stdout);
  return ok ? kExitSuccess : Failure(error);
}

int List(const CommandLine& line) {
  std::vector<localqm::QueueInfo> queues;
  std::string error;
  if (!localqm::ListQueues(line.root, line.operands[0], &queues, &error)) {
    return Failure(error);
  }
  size_t width = 5;
  for (const auto& queue : queues) width = std::max(width, queue.name.size());
  std::printf("%-*s  %9s  %9s  %s\n", static_cast<int>(width), "QUEUE", "DEPTH",
              "MAXDEPTH", "PUT");
  for (const auto& queue : queues) {
    std::printf("%-*s  %9llu  %9lld  %s%s%s\n", static_cast<int>(width),
                queue.name.c_str(),
                static_cast<unsigned long long>(queue.depth),
                static_cast<long long>(queue.attributes.max_depth),
                queue.attributes.put_enabled ? "enabled" : "disabled",
                queue.note.empty() ? "" : "  ", queue.note.c_str());
  }
  return kExitSuccess;
}

int Run(const CommandLine& line) {
  const std::string& command = line.command;
  std::string error;
  bool ok = false;
  if (command == "create") {
    if (!Expect(line, 1, {"--default"}, &error)) return UsageError(error);
    ok = localqm::CreateQmgr(line.root, line.operands[0],
                             line.options.count("--default") > 0, &error);
  } else if (command == "define") {
    if (!Expect(line, 2,
                {"--max-depth", "--max-msg-length", "--put",
                 "--def-persistence", "--def-priority"},
                &error)) {
      return UsageError(error);
    }
    localqm::Attributes attributes;
    if (!ParseDefineOptions(line, &attributes, &error)) {
      return UsageError(error);
    }
    ok = localqm::DefineQueue(line.root, line.operands[0], line.operands[1],
                              attributes, &error);
  } else if (command == "stop" || command == "start") {
    if (!Expect(line, 1, {}, &error)) return UsageError(error);
    ok = localqm::SetStopped(line.root, line.operands[0], command == "stop",
                             &error);
  } else if (command == "list") {
    if (!Expect(line, 1, {}, &error)) return UsageError(error);
    return List(line);
  } else if (command == "browse") {
    if (!Expect(line, 2, {}, &error)) return UsageError(error);
    return Browse(line);
  } else if (command == "clear") {
    if (!Expect(line, 2, {}, &error)) return UsageError(error);
    ok = localqm::ClearQueue(line.root, line.operands[0], line.operands[1],
                             &error);
  } else {
    return UsageError(command.empty() ? "no command given"
                                      : "unknown command '" + command + "'");
  }
  return ok ? kExitSuccess : Failure(error);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 ||
                    std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return kExitSuccess;
  }
  CommandLine line;
  std::string error;
  if (!Parse(argc, argv, &line, &error)) return UsageError(error);
  return Run(line);
}
