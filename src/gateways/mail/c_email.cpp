#include "gateways/mail/c_email.h"

#include <string>

#include "automation/counter16.h"
#include "automation/run_time_error.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "platform/trim.h"

namespace qz {
namespace {

constexpr std::string_view kEmailClassSource = kEmailSource;

// An entry as trimmed text. Null, like Empty, holds no "@" and is passed
// over rather than raising.
std::string EntryText(const Variant& entry) {
  if (entry.IsNull()) return {};
  return std::string(TrimSpaces(entry.Text()));
}

bool HasAt(std::string_view entry) { return entry.find('@') != std::string_view::npos; }

}  // namespace

cEmail::~cEmail() {
  try {
    if (mblnSessionOpen && mobjSession) mobjSession->SignOff();
  } catch (...) {
    // The session goes with the object either way; a destructor must not throw.
  }
  mobjMessages = nullptr;
  mobjSession = nullptr;
}

bool cEmail::gblnOpenSession(MailControls* MAPIForm, std::string_view lstrProfile) {
  try {
    if (!MAPIForm) throw RunTimeError(kErrObjectNotSet, std::string(kEmailClassSource));
    mobjSession = &MAPIForm->MAPISession1;
    mobjMessages = &MAPIForm->MAPIMessages1;
    mobjSession->LogonUI = false;
    mobjSession->DownloadMail = false;
    mobjSession->NewSession = true;
    mobjSession->UserName = lstrProfile;
    mobjSession->SignOn();
    mobjMessages->SessionID = mobjSession->SessionID();
    mblnSessionOpen = true;
    return true;
  } catch (...) {
    gsubDisplayError(kEmailClassSource, "gblnOpenSession");
    return false;
  }
}

void cEmail::SetRecipient(std::string_view entry) {
  size_t dollar = entry.find('$');
  if (dollar != std::string_view::npos) {
    mobjMessages->RecipDisplayName(TrimSpaces(entry.substr(0, dollar)));
    mobjMessages->RecipAddress(TrimSpaces(entry.substr(dollar + 1)));
  } else {
    mobjMessages->RecipAddress(entry);
  }
  mobjMessages->AddressResolveUI = false;
  mobjMessages->ResolveName();
}

bool cEmail::gblnSendMail(std::string_view lstrSubject, std::string_view lstrMessage,
                          const Variant& lvarMailUsers) {
  try {
    if (!mobjMessages) throw RunTimeError(kErrObjectNotSet, std::string(kEmailClassSource));
    mobjMessages->Compose();
    mobjMessages->MsgSubject = lstrSubject;
    mobjMessages->MsgNoteText = lstrMessage;
    mobjMessages->RecipIndex(0);
    mobjMessages->RecipType(kMailTo);
    bool has_to = false;
    std::string first = EntryText(lvarMailUsers.At(0));
    if (HasAt(first)) {
      SetRecipient(first);
      has_to = true;
    }
    if (lvarMailUsers.UBound() > 0) {
      for (int32_t j = 1, last = Int16LoopLimit(lvarMailUsers.UBound()); j <= last; Step16(j)) {
        std::string entry = EntryText(lvarMailUsers.At(j));
        if (!HasAt(entry)) continue;
        mobjMessages->RecipIndex(j);
        mobjMessages->RecipType(kMailCc);
        SetRecipient(entry);
      }
    }
    // Without a To recipient the composed message is dropped unsent.
    if (has_to) mobjMessages->Send();
    return true;
  } catch (...) {
    gsubDisplayError(kEmailClassSource, "gblnSendMail");
    return false;
  }
}

}  // namespace qz
