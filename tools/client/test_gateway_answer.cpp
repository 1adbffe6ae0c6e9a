#include "client/test_gateway_answer.h"

#include "gateways/gateway_table.h"

namespace qz::client {

std::string AnswerLine(std::string_view answer) {
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
    answer.remove_suffix(1);
  return std::string(answer);
}

ExitStatus ExitForTestAnswer(int index, std::string_view answer) {
  if (answer == "Message Sent") return kExitOk;
  const GatewayTable gateways = BuiltInGateways();
  const PagingGateway* gateway = gateways.Find(index);
  if (!gateway || !gateway->test_answers_reply || answer.size() < 3) return kExitFailed;
  for (size_t i = 0; i < 3; ++i)
    if (answer[i] < '0' || answer[i] > '9') return kExitFailed;
  return (answer.size() == 3 || answer[3] == ' ' || answer[3] == '-' || answer[3] == '\r')
             ? kExitOk
             : kExitFailed;
}

}  // namespace qz::client
