#include "dispatch/tracing_channels.h"

#include "diagnostics/last_error.h"

namespace qz {
namespace {

constexpr size_t kNamedRecipients = 32;
constexpr int kDepthLimit = 4;  // a group holds lists of lists; deeper is not an address

void Collect(const Variant& value, int depth, std::vector<std::string>& names, size_t& more) {
  const Variant::Kind kind = value.kind();
  if (kind == Variant::Kind::Empty || kind == Variant::Kind::Missing ||
      kind == Variant::Kind::NoDimArray)
    return;
  if (value.kind() == Variant::Kind::Array) {
    if (depth >= kDepthLimit) return;
    for (const Variant& item : value.Items()) Collect(item, depth + 1, names, more);
    return;
  }
  if (names.size() >= kNamedRecipients) {
    ++more;
    return;
  }
  switch (value.kind()) {
    case Variant::Kind::Null:
      names.emplace_back("Null");
      break;
    case Variant::Kind::Object:
      names.emplace_back("(an object)");
      break;
    default:
      names.push_back(value.Text());
  }
}

// Channel texts often open with, or hold, the CR LF between gateway replies;
// one line reads better with "; " between them.
std::string OneLine(std::string_view text) {
  std::string line;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      while (i < text.size() && (text[i] == '\r' || text[i] == '\n')) ++i;
      if (!line.empty() && i < text.size()) line.append("; ");
      continue;
    }
    line.push_back(text[i++]);
  }
  return line;
}

}  // namespace

std::string RecipientsText(const Variant& recipients) {
  std::vector<std::string> names;
  size_t more = 0;
  Collect(recipients, 0, names, more);
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text.append(", ");
    text.append(name);
  }
  if (more > 0) text.append(" and ").append(std::to_string(more)).append(" more");
  return text;
}

bool TracingChannels::Record(const std::string& channel, const Variant* recipients,
                             bool delivered) {
  std::string named = recipients ? RecipientsText(*recipients) : "";
  // A channel handed nobody sends nothing; "to (none): delivered" would read
  // as if it had. A failure stays: something ran and has a reason.
  if (delivered && recipients && named.empty()) return delivered;
  if (trace_.steps.size() >= DispatchTrace::kMaxSteps) {
    ++trace_.steps_not_kept;
    if (!delivered) ++trace_.failures_not_kept;
    return delivered;
  }
  ChannelStep step{group_,       channel,   std::move(named),
                   !!recipients, delivered, delivered ? "" : OneLine(gstrLastError)};
  trace_.steps.push_back(std::move(step));
  return delivered;
}

void TracingChannels::BeginGroup(long group) {
  group_ = group;
  paging_ran_ = false;
}

void TracingChannels::EndGroup(const Variant& pager_groups, bool paged) {
  // No paging channel ran (the gateway number is in no row): the group's
  // page result is whatever the previous group left. The run never read this
  // group's numbers then, so reading them here must not raise.
  if (paging_ran_) return;
  const Variant* pagers = nullptr;
  try {
    pagers = &pager_groups.At(group_);
  } catch (...) {
    // Not worth a word: the step is traced without recipients, which says as much.
  }
  Record("page (" + trace_.gateway + ")", pagers, paged);
}

bool TracingChannels::Mail(const MailRoute& route, const ChannelCall& call, const Variant& notes,
                           const Variant& emails) {
  return Record("mail (" + route.name + ")", &emails, route.channel(call, notes, emails));
}

Variant TracingChannels::ReadGateway(const ChannelCall& call) {
  Variant number = gateways_.read_gateway(call);
  trace_.gateway = GatewayName(number);
  return number;
}

bool TracingChannels::Initialise(const PagingGateway& gateway, const ChannelCall& call) {
  if (!gateway.initialise) return true;
  bool done = gateway.initialise(call);
  // Only a failure is worth a step: the page that follows a success has its own.
  if (!done) Record("loading " + gateway.name + " settings", nullptr, false);
  return done;
}

bool TracingChannels::Page(const PagingGateway& gateway, const ChannelCall& call,
                           const Variant& notes, const Variant& pagers) {
  paging_ran_ = true;
  return Record("page (" + gateway.name + ")", &pagers, gateway.channel(call, notes, pagers));
}

std::string TracingChannels::GatewayName(const Variant& number) const {
  if (number.IsNull()) return "no gateway (Null)";
  try {
    if (const PagingGateway* gateway = gateways_.Find(number.ToNumber())) return gateway->name;
    return "no gateway (" + number.Text() + ")";
  } catch (...) {
    return "no gateway (not a number)";
  }
}

}  // namespace qz
