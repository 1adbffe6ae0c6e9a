#include "client/call_answer.h"
#include "client/call_arguments.h"
#include "client/operation_list_text.h"
#include "client/operations.h"
#include "client/runners.h"
#include "client/server_object.h"

namespace qz::client {
namespace {

// The object's own description of its operations: GetTypeInfo, or the
// standard introspection should that slot fail.
bool ReadTypeInfo(const ServerObject& object, std::string& xml, ErrorPtr& error) {
  VariantPtr reply = object.Call(kDispatchInterface, "GetTypeInfo", nullptr, error);
  if (!reply) {
    error.reset();
    reply = object.Call(kIntrospectable, "Introspect", nullptr, error);
  }
  return reply && OneStringReply(reply.get(), "(s)", "GetTypeInfo", xml, error);
}

ExitStatus Refuse(Console console, bool json, const std::string& message) {
  ReportUsage(console, json, message);
  return kExitUsage;
}

ExitStatus Print(const CallAnswer& answer, bool json, Console console) {
  if (json) {
    console.out << AnswerJson(answer) << '\n';
  } else {
    console.out << AnswerText(answer);
  }
  return ExitForResult(answer.result.get());
}

}  // namespace

ExitStatus RunCall(GDBusConnection* connection, const GlobalOptions& global,
                   const CallCommand& call, Console console) {
  ServerObject object(connection, global.destination);
  ErrorPtr error;
  if (!object.Create(call.class_name, error)) return ReportFailure(error.get(), global, console);
  std::string xml;
  if (!ReadTypeInfo(object, xml, error)) return ReportFailure(error.get(), global, console);
  const std::string interface_name = std::string(kNamePrefix) + "_" + call.class_name;
  const OperationList list = ReadOperations(xml, interface_name);
  if (!list.error.empty()) {
    ReportProblem(console, global.json, "answer", list.error);
    return kExitUsage;
  }
  if (call.list) {
    console.out << (global.json ? OperationsJson(list.operations) + "\n"
                                : OperationsText(list.operations));
    return kExitOk;
  }

  if (const auto dispid = ParseDispId(call.operation)) {
    const Operation* op = FindByDispId(list.operations, *dispid);
    BuiltArguments built = InvokeArguments(op, *dispid, call.arguments);
    if (!built.parameters) return Refuse(console, global.json, built.error);
    VariantPtr reply = object.Call(kDispatchInterface, "Invoke", built.parameters.get(), error);
    if (!reply) return ReportFailure(error.get(), global, console);
    return Print(AnswerOfInvoke(op, reply.get()), global.json, console);
  }

  const Operation* op = FindByName(list.operations, call.operation);
  if (!op) {
    ReportUsage(console, global.json, call.class_name + " has no operation " + call.operation,
                "qznotes call --list " + call.class_name + " lists them");
    return kExitUsage;
  }
  BuiltArguments built = NamedCallArguments(*op, call.arguments);
  if (!built.parameters) return Refuse(console, global.json, built.error);
  VariantPtr reply = object.Call(interface_name, op->name, built.parameters.get(), error);
  if (!reply) return ReportFailure(error.get(), global, console);
  return Print(AnswerOfNamedCall(*op, reply.get()), global.json, console);
}

}  // namespace qz::client
