#include "client/call_failure.h"
#include "client/runners.h"

namespace qz::client {

ExitStatus ReportFailure(const GError* error, Console console) {
  const CallFailure failure = DescribeFailure(error);
  console.err << FailureLine(failure) << '\n';
  return ExitForFailure(failure);
}

}  // namespace qz::client
