#include "server/type_library.h"

#include "server/served_classes.h"

#include <cstdio>

#include "server/journal_interface.h"
#include "server/profiles_interface.h"
#include "server/status_view.h"

namespace qz {
namespace {

constexpr std::string_view kHeader =
    "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n";

constexpr std::string_view kStandardInterfaces =
    R"(  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg name="xml" type="s" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Peer">
    <method name="Ping"/>
    <method name="GetMachineId"><arg name="machine_uuid" type="s" direction="out"/></method>
  </interface>
)";

constexpr std::string_view kDispatchMethods = R"(
    <method name="QueryInterface"><arg name="name" type="s" direction="in"/><arg name="result" type="b" direction="out"/></method>
    <method name="AddRef"><arg name="count" type="u" direction="out"/></method>
    <method name="Release"><arg name="count" type="u" direction="out"/></method>
    <method name="GetTypeInfoCount"><arg name="count" type="u" direction="out"/></method>
    <method name="GetTypeInfo"><arg name="xml" type="s" direction="out"/></method>
    <method name="GetIDsOfNames"><arg name="names" type="as" direction="in"/><arg name="ids" type="ai" direction="out"/></method>
    <method name="Invoke"><arg name="dispid" type="i" direction="in"/><arg name="args" type="av" direction="in"/><arg name="result" type="v" direction="out"/><arg name="byref" type="av" direction="out"/></method>
  </interface>
)";

constexpr std::string_view kFactoryInvoke =
    R"(    <method name="Invoke"><arg name="dispid" type="i" direction="in"/><arg name="args" type="av" direction="in"/><arg name="result" type="v" direction="out"/><arg name="byref" type="av" direction="out"/></method>
  </interface>
)";

// Signals for monitors: Delivered after each dispatch run.
std::string MonitorXml() {
  std::string xml("  <interface name=\"");
  xml.append(kMonitorInterface).append("\">\n    <signal name=\"").append(kDeliveredSignal);
  xml.append(
      "\"><arg name=\"testId\" type=\"s\"/><arg name=\"outcome\" type=\"s\"/>"
      "<arg name=\"details\" type=\"as\"/></signal>\n  </interface>\n");
  return xml;
}

std::string Hex(int32_t dispid) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(dispid));
  return buf;
}

void Arg(std::string& xml, std::string_view name, WireType type, std::string_view direction,
         bool optional) {
  xml.append("      <arg name=\"").append(name).append("\" type=\"").append(WireTypeString(type));
  xml.append("\" direction=\"").append(direction).append("\"");
  if (optional)
    xml.append("><annotation name=\"")
        .append(kOptionalAnnotation)
        .append("\" value=\"true\"/></arg>\n");
  else
    xml.append("/>\n");
}

}  // namespace

std::string WireTypeString(WireType type) {
  switch (type) {
    case WireType::kVariant:
      return "v";
    case WireType::kObject:
      return "(so)";
    case WireType::kString:
      return "s";
    case WireType::kInt16:
      return "n";
    case WireType::kInt32:
      return "i";
    case WireType::kBoolean:
      return "b";
  }
  return "v";
}

std::string InterfaceXml(const ClassDescription& description, std::string_view interface) {
  std::string xml = "  <interface name=\"" + std::string(interface) + "\">\n";
  for (const Operation& op : description.operations) {
    std::string annotation = "      <annotation name=\"" + std::string(kDispIdAnnotation) +
                             "\" value=\"" + Hex(op.dispid) + "\"/>\n";
    if (op.property_put) {
      xml.append("    <property name=\"").append(op.name).append("\" type=\"");
      xml.append(WireTypeString(op.params.at(0).type)).append("\" access=\"write\">\n");
      xml.append(annotation).append("    </property>\n");
      continue;
    }
    xml.append("    <method name=\"").append(op.name).append("\">\n").append(annotation);
    for (const Param& p : op.params) Arg(xml, p.name, p.type, "in", p.optional);
    if (op.result) Arg(xml, "result", *op.result, "out", false);
    for (const Param& p : op.params)
      if (p.by_ref) Arg(xml, p.name, p.type, "out", false);
    xml.append("    </method>\n");
  }
  xml.append("  </interface>\n");
  return xml;
}

std::string ObjectXml(const ClassDescription& description) {
  std::string xml(kHeader);
  xml.append("<node>\n").append(kStandardInterfaces);
  xml.append("  <interface name=\"")
      .append(kDispatchInterface)
      .append("\">")
      .append(kDispatchMethods);
  xml.append(InterfaceXml(description, description.interface));
  for (std::string_view alias : description.aliases) xml.append(InterfaceXml(description, alias));
  xml.append("</node>\n");
  return xml;
}

std::string FactoryXml() {
  std::string xml(kHeader);
  xml.append("<node>\n").append(kStandardInterfaces);
  xml.append("  <interface name=\"").append(kFactoryInterface).append("\">\n");
  xml.append(
      "    <method name=\"CreateObject\"><arg name=\"progid\" type=\"s\" direction=\"in\"/>");
  xml.append("<arg name=\"path\" type=\"o\" direction=\"out\"/></method>\n  </interface>\n");
  xml.append(ProfilesInterfaceXml());
  xml.append(StatusInterfaceXml());
  xml.append(JournalInterfaceXml());
  // The operations answered here for one-shot callers, and Invoke for them.
  for (const ClassDescription* c : AllClasses())
    if (c->served_on_factory) xml.append(InterfaceXml(*c, c->interface));
  if (FactoryInvokeClass())
    xml.append("  <interface name=\"")
        .append(kDispatchInterface)
        .append("\">\n")
        .append(kFactoryInvoke);
  xml.append(MonitorXml());
  for (const ClassDescription* c : AllClasses())
    if (c->creatable()) xml.append("  <node name=\"").append(c->class_name).append("\"/>\n");
  xml.append("</node>\n");
  return xml;
}

std::string NodeXml(const std::vector<std::string>& children) {
  std::string xml(kHeader);
  xml.append("<node>\n").append(kStandardInterfaces);
  for (const std::string& child : children)
    xml.append("  <node name=\"").append(child).append("\"/>\n");
  xml.append("</node>\n");
  return xml;
}

}  // namespace qz
