// The request API of the front door, JSON under /v1: POST /v1/requests,
// GET /v1/requests/{id}, GET /v1/events (server-sent events of ended runs)
// and POST /v1/gateways/{n}/test. The handlers only read the body and
// answer; the work goes through the server's RequestPort, which answers
// from the apartments, so the listener's thread never waits.
#pragma once

#include <string>

#include "http/front_door.h"
#include "http/http_listener.h"
#include "http/request_json.h"

namespace qz {

// Adds the routes to `listener` before it starts; `port` must outlive it.
void AddRequestApi(HttpListener& listener, RequestPort& port, const JsonBodyLimits& limits);

// The JSON of one request's state, as GET /v1/requests/{id} and the event
// stream carry it.
std::string RequestStateJson(const RequestState& state);

}  // namespace qz
