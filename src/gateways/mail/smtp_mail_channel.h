// The SMTP e-mail channel: every (message, recipient) pair of one group goes
// as a mail of its own through a new "qzSMTP.cMail" component, judged by the
// reply it returns. Runs on the calling object's thread; each mail blocks it
// for the whole exchange with the server.
#pragma once

#include <cstddef>
#include <string_view>

#include "automation/variant.h"
#include "contract/contract.h"
#include "gateways/delivery_channels.h"

namespace qz {

// A reply containing this, compared in lower case, means the mail was accepted.
inline constexpr std::string_view kSmtpSuccessPhrase = "250 requested mail action okay, completed";
inline constexpr size_t kSmtpSubjectLimit = 100;  // characters of the cleaned text

// True when nothing failed (gstrLastError empty at the end). Refused mails
// are collected in gstrLastError, each after CR LF, and later recipients are
// still tried; a run-time failure is reported and stops the group.
bool mblnSendSMTPMail(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarEmail);

}  // namespace qz
