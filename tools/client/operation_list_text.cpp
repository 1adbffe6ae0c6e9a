#include "client/operation_list_text.h"

#include <cstdio>

#include "client/quoted_string.h"

namespace qz::client {
namespace {

std::string Hex(int32_t dispid) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(dispid));
  return text;
}

std::string Results(const Operation& op) {
  std::string text;
  for (const Parameter& p : op.out) {
    if (!text.empty()) text += ", ";
    text += p.signature + (p.name == "result" || p.name.empty() ? "" : " " + p.name);
  }
  return text;
}

}  // namespace

std::string OperationsText(const std::vector<Operation>& operations) {
  std::string text;
  for (const Operation& op : operations) {
    std::string id = op.dispid ? Hex(*op.dispid) : "-";
    id.resize(12, ' ');
    text += id + Describe(op);
    const std::string results = Results(op);
    if (!results.empty()) text += " -> " + results;
    text += '\n';
  }
  return text;
}

std::string OperationsJson(const std::vector<Operation>& operations) {
  std::string json = "[";
  for (const Operation& op : operations) {
    if (json.size() > 1) json += ',';
    json += "{\"name\":" + Quoted(op.name) + ",\"dispid\":";
    json += op.dispid ? std::to_string(*op.dispid) + ",\"hex\":" + Quoted(Hex(*op.dispid))
                      : std::string("null");
    json += ",\"parameters\":[";
    for (size_t k = 0; k < op.in.size(); ++k) {
      json += (k ? ",{\"name\":" : "{\"name\":") + Quoted(op.in[k].name) +
              ",\"type\":" + Quoted(op.in[k].signature) + "}";
    }
    json += "],\"results\":[";
    for (size_t k = 0; k < op.out.size(); ++k) {
      json += (k ? ",{\"name\":" : "{\"name\":") + Quoted(op.out[k].name) +
              ",\"type\":" + Quoted(op.out[k].signature) + "}";
    }
    json += "]}";
  }
  return json + "]";
}

}  // namespace qz::client
