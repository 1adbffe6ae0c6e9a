#include "client/request_arrays.h"

#include <gtest/gtest.h>

#include "support/variant_text.h"

namespace qz::client {
namespace {

std::string Printed(GVariant* v) { return testing::PrintedVariant(v); }

TEST(ClientRequestArrays, ThreeLevelsStayParallelToTheMessages) {
  SendCommand send;
  send.groups = {
      Group{{Message{"disk full", {"a@x"}, {"555", "556"}}, Message{"cpu", {}, {}}}},
      Group{{Message{"door", {}, {"777"}}}},
  };
  const RequestArrays a = BuildRequestArrays(send);
  EXPECT_EQ(Printed(a.notes.get()), "<[<[<'disk full'>, <'cpu'>]>, <[<'door'>]>]>");
  // Message 2 has no addresses: its list is present but empty, so list k
  // still belongs to message k.
  EXPECT_EQ(Printed(a.email.get()), "<[<[<[<'a@x'>]>, <@av []>]>, <[<@av []>]>]>");
  EXPECT_EQ(Printed(a.pager.get()), "<[<[<[<'555'>, <'556'>]>, <@av []>]>, <[<[<'777'>]>]>]>");
}

TEST(ClientRequestArrays, MailOptionsFillAllFiveElementsOrNone) {
  SendCommand send;
  send.groups = {Group{{Message{"m", {}, {}}}}};
  EXPECT_EQ(Printed(BuildRequestArrays(send).any.get()), "<byte 0x00>");  // Empty: no mail

  // The server reads elements 1 to 4 whenever element 0 is set, so a partial
  // array would make it fail the whole request.
  send.mail = MailOptions{"Alert", "", "", "mail.x", true, true};
  EXPECT_EQ(Printed(BuildRequestArrays(send).any.get()),
            "<[<'Alert'>, <''>, <''>, <'mail.x'>, <'True'>]>");
  send.mail.prefer_smtp = false;
  send.mail.profile = "Ops";
  EXPECT_EQ(Printed(BuildRequestArrays(send).any.get()),
            "<[<'Alert'>, <''>, <'Ops'>, <'mail.x'>, <'False'>]>");
}

}  // namespace
}  // namespace qz::client
