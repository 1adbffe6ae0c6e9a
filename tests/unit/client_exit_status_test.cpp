#include <gio/gio.h>
#include <gtest/gtest.h>

#include "client/call_failure.h"
#include "client/exit_status.h"
#include "client/glib_holders.h"

namespace qz::client {
namespace {

VariantPtr Value(const char* text) {
  return Own(g_variant_parse(nullptr, text, nullptr, nullptr, nullptr));
}

TEST(ClientExitStatus, RequestAnswer) {
  struct Case {
    const char* answer;
    ExitStatus status;
  } cases[] = {
      {"<'Notes Server: Asynch mode'>", kExitOk},
      {"'Notes Server: Asynch mode'", kExitOk},
      {"<'Notes Server: Subscript out of range'>", kExitFailed},
      {"<'Notes Server: Asynch mode '>", kExitFailed},  // exact text only
      {"<'notes server: asynch mode'>", kExitFailed},
      {"<byte 0>", kExitFailed},
  };
  for (const auto& c : cases) EXPECT_EQ(ExitForAnswer(Value(c.answer).get()), c.status) << c.answer;
}

TEST(ClientExitStatus, CallbackMessage) {
  EXPECT_EQ(ExitForCallback("QzNotes: Message Sent"), kExitOk);
  EXPECT_EQ(ExitForCallback("QzNotes: Message Undeliverable. See QzNotesLog.log file for details "),
            kExitFailed);
  EXPECT_EQ(ExitForCallback("QzNotes: Message Undeliverable. Overflow."), kExitFailed);
  EXPECT_EQ(ExitForCallback("Message Sent"), kExitFailed);
}

TEST(ClientExitStatus, BooleanResult) {
  EXPECT_EQ(ExitForBoolean(Value("true").get()), kExitOk);
  EXPECT_EQ(ExitForBoolean(Value("<false>").get()), kExitFailed);
  EXPECT_EQ(ExitForBoolean(Value("<int16 -1>").get()), kExitUsage);
}

TEST(ClientExitStatus, ServerErrorsAndBusFailures) {
  struct Case {
    const char* name;
    const char* message;
    bool from_server;
    const char* line;
  } cases[] = {
      {"org.qznotes.QzNotes.Error.E13", "QzNotes: Type mismatch", true,
       "error E13: QzNotes: Type mismatch"},
      {"org.qznotes.QzNotes.Error.E9", "cNotify:gblnSetPagerSettingsEx: Subscript out of range",
       true, "error E9: cNotify:gblnSetPagerSettingsEx: Subscript out of range"},
      {"org.qznotes.QzNotes.Error.N2147221504", "x: y", true, "error N2147221504: x: y"},
      {"org.qznotes.QzNotes.Error.Ex", "odd", false, "qznotes: odd"},
      {"org.freedesktop.DBus.Error.ServiceUnknown", "The name is not activatable", false,
       "qznotes: The name is not activatable"},
  };
  for (const auto& c : cases) {
    GError* error = g_dbus_error_new_for_dbus_error(c.name, c.message);
    const CallFailure failure = DescribeFailure(error);
    g_error_free(error);
    EXPECT_EQ(failure.raised_by_server, c.from_server) << c.name;
    EXPECT_EQ(FailureLine(failure), c.line);
    EXPECT_EQ(ExitForFailure(failure), c.from_server ? kExitFailed : kExitUsage);
  }
  GError* local = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_TIMED_OUT, "Timeout was reached");
  EXPECT_EQ(FailureLine(DescribeFailure(local)), "qznotes: Timeout was reached");
  g_error_free(local);
}

}  // namespace
}  // namespace qz::client
