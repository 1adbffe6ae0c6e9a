// The one seam through which a dispatch run (and the gateway test) reaches
// the channels and the gateway reader. A channel takes group i of the
// messages and group i of the matching recipient lists and answers true when
// the group was delivered, leaving its failure text in gstrLastError
// otherwise. Called on the requesting object's thread.
#pragma once

#include <string>
#include <string_view>

#include "automation/variant.h"
#include "gateways/sms/sms_settings.h"

namespace qz {

class ComponentRegistry;
class MailControls;

// What a channel may read of the object it runs for.
struct ChannelCall {
  std::string_view folder;  // program folder: settings and log live here
  const ComponentRegistry& components;
  std::string_view mstrSubject;
  std::string_view mstrMailFrom;
  std::string_view mstrProfile;
  std::string_view mstrSMTPServer;
  std::string& mstrSNPPStatus;        // left behind by the SNPP channel
  SmsSettings& sms;                   // loaded by mblnInitialiseSMS, kept by the object
  MailControls* mfrmNotes = nullptr;  // the request's host form, with its mail controls
};

class DeliveryChannels {
 public:
  virtual ~DeliveryChannels() = default;

  virtual bool mblnSendMail(const ChannelCall& call, const Variant& notes,
                            const Variant& emails) = 0;
  virtual bool mblnSendSMTPMail(const ChannelCall& call, const Variant& notes,
                                const Variant& emails) = 0;
  virtual bool mblnPaging(const ChannelCall& call, const Variant& notes, const Variant& pagers) = 0;
  virtual bool mblnPagingIP(const ChannelCall& call, const Variant& notes,
                            const Variant& pagers) = 0;
  virtual bool mblnPagingEx(const ChannelCall& call, const Variant& notes,
                            const Variant& pagers) = 0;
  virtual bool mblnInitialiseSMS(const ChannelCall& call) = 0;
  // The configured paging gateway number; raises when it cannot be read.
  virtual Variant mvarGetDefaultGateway(const ChannelCall& call) = 0;
};

}  // namespace qz
