// The window-station check: whether a user is logged on interactively, so
// that MAPI e-mail can be used. Failures of the query are raised again with
// the source "cNotes:mblnLogonUser".
#pragma once

namespace qz {

class SeatProbe;

bool mblnLogonUser(SeatProbe& seat);

}  // namespace qz
