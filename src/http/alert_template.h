// The message and subject templates of an Alertmanager route: "{{ .Status }}",
// "{{ .CommonLabels.alertname }}" and the like are replaced with the
// webhook's fields. Nothing else in a template has meaning, so a route file
// can never make the server run code: text that is not a known field,
// pipelines and functions included, is kept as written, and a field the
// webhook lacks renders as empty text. Pure function; safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "http/alertmanager_payload.h"

namespace qz {

// A rendered text is cut here (at a character boundary): templates of
// annotations can be long, and a page is not.
inline constexpr size_t kMaxRenderedAlertText = 16 * 1024;

// `alert` is the alert a group is rendered for: it gives .Labels,
// .Annotations, .StartsAt, .EndsAt, .GeneratorURL, .Fingerprint and its own
// .Status. Without one (a subject, shared by every group) those are empty
// and .Status is the webhook's.
std::string RenderAlertTemplate(std::string_view text, const AlertmanagerPayload& payload,
                                const AlertmanagerAlert* alert);

}  // namespace qz
