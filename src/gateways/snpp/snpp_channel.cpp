#include "gateways/snpp/snpp_channel.h"

#include <memory>
#include <string>

#include "config/profile_string.h"
#include "config/settings_path.h"
#include "diagnostics/last_error.h"
#include "gateways/channel_frame.h"
#include "gateways/snpp/c_pager.h"
#include "gateways/snpp/strip_buffer.h"
#include "platform/trim.h"

namespace qz {
namespace {

// The three keys go to the client in this order, each read just before it is
// handed over; the protocol key comes after them. False when a read failed.
bool ConfigureSnppPager(cPager& pager, const std::string& file) {
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

}  // namespace

bool mblnPagingIP(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarPager) {
  std::unique_ptr<cPager> pager;  // closes when it goes, after a failure is reported
  bool rfc = false;
  return RunChannel(
      {.procedure = "mblnPagingIP",
       .paging = true,
       .delivery = Delivery::kPerRecipient,
       .open =
           [&] {
             pager = std::make_unique<cPager>();
             if (!ConfigureSnppPager(*pager, SettingsPath(call.folder, kSnppSettingsFile)))
               return Opening::kFailed;
             if (!pager->Connect()) {
               call.mstrSNPPStatus = gstrStripBuffer(pager->StatusText());
               if (!call.mstrSNPPStatus.empty()) gstrLastError = call.mstrSNPPStatus;
               return Opening::kSendNothing;
             }
             rfc = pager->UsesRfc1861();
             return Opening::kSend;
           },
       // The server closed: nothing more is sent or recorded.
       .reachable = [&] { return pager->IsSocketConnected(); },
       // A page the server did not confirm is no failure to the
       // caller: its status says so. It still did not go.
       .deliver = [&](const std::string& text, const Variant& id) -> Refusal {
         const bool sent = pager->SendPage(Quoted(TrimSpaces(id.Text()), rfc), Quoted(text, rfc));
         call.mstrSNPPStatus = gstrStripBuffer(pager->StatusText());
         if (sent) return std::nullopt;
         return Failure{
             .text = call.mstrSNPPStatus, .kind = pager->PageFailureKind(), .noted = false};
       },
       .parts = call.parts,
       .gate = call.gate},
      lvarNotes, lvarPager);
}

}  // namespace qz
