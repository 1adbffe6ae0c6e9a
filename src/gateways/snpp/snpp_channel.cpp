#include "gateways/snpp/snpp_channel.h"

#include <memory>
#include <string>

#include "automation/counter16.h"
#include "config/profile_string.h"
#include "config/settings_path.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "diagnostics/last_error.h"
#include "gateways/clean_message.h"
#include "gateways/snpp/c_pager.h"
#include "gateways/snpp/strip_buffer.h"
#include "platform/trim.h"

namespace qz {
namespace {

bool HasItems(const Variant& v) { return !v.IsEmpty() && v.IsArray(); }

// The three keys go to the client in this order, each read just before it is
// handed over; the protocol key comes after them. False when a read failed.
bool Configure(cPager& pager, const std::string& file) {
  std::string value;
  if (!mblnGetPrivateProfileString(file, kSnppSection, "TCPPort", value)) return false;
  pager.Port(value);
  if (!mblnGetPrivateProfileString(file, kSnppSection, "HostName", value)) return false;
  pager.HostName(value);
  if (!mblnGetPrivateProfileString(file, kSnppSection, "Timeout", value)) return false;
  pager.Timeout(value);
  if (!mblnGetPrivateProfileString(file, kSnppSection, "Protocol", value)) return false;
  pager.Protocol(value);
  return true;
}

std::string Quoted(std::string_view text, bool rfc1861) {
  if (rfc1861) return std::string(text);
  return "\"" + std::string(text) + "\"";
}

void SendAll(cPager& pager, const ChannelCall& call, const Variant& lvarNotes,
             const Variant& lvarPager) {
  const bool rfc = pager.UsesRfc1861();
  for (int32_t i = 0, last = Int16LoopLimit(lvarNotes.UBound()); i <= last; Step16(i)) {
    std::string text = lvarNotes.At(i).Text();
    msubCleanMessage(text, true);
    const Variant& ids = lvarPager.At(i);
    if (!HasItems(ids)) continue;
    for (int32_t j = 0, last_id = Int16LoopLimit(ids.UBound()); j <= last_id; Step16(j)) {
      const Variant& id = ids.At(j);
      if (id.IsEmpty()) continue;
      if (!pager.IsSocketConnected()) continue;  // the server closed: nothing is recorded
      pager.SendPage(Quoted(TrimSpaces(id.Text()), rfc), Quoted(text, rfc));
      call.mstrSNPPStatus = gstrStripBuffer(pager.StatusText());
    }
  }
}

}  // namespace

bool mblnPagingIP(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarPager) {
  bool result = false;
  std::unique_ptr<cPager> pager;
  try {
    const std::string file = SettingsPath(call.folder, kSnppSettingsFile);
    gstrLastError.clear();
    if (HasItems(lvarNotes) && HasItems(lvarPager)) {
      pager = std::make_unique<cPager>();
      if (!Configure(*pager, file)) return false;  // the client goes with the pointer
      if (pager->Connect()) {
        SendAll(*pager, call, lvarNotes, lvarPager);
      } else {
        call.mstrSNPPStatus = gstrStripBuffer(pager->StatusText());
        if (!call.mstrSNPPStatus.empty()) gstrLastError = call.mstrSNPPStatus;
      }
    }
    result = gstrLastError.empty();
  } catch (...) {
    gsubDisplayError(kServerSource, "mblnPagingIP");
  }
  pager.reset();
  return result;
}

}  // namespace qz
