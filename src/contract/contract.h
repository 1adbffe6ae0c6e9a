// The public contract of the server, written once: bus name, object paths,
// interface and error names, the wire markers, program identifiers and the
// boundary's error source. The server, the built-in components and the
// client all include this header. Constants only.
#pragma once

#include <cstdint>
#include <string_view>

namespace qz {

// Character arrays, so each constant serves both as a C string for GLib and
// as a string_view.
inline constexpr char kBusName[] = "org.qznotes.QzNotes";
inline constexpr char kFactoryPath[] = "/org/qznotes/QzNotes";
inline constexpr char kNamePrefix[] = "org.qznotes.QzNotes.";

// Each class's dual interface; cNotify answers on four earlier versions too.
inline constexpr char kNotifyInterface[] = "org.qznotes.QzNotes._cNotify";
inline constexpr char kPagerInterface[] = "org.qznotes.QzNotes._cPager";
inline constexpr char kRegistryInterface[] = "org.qznotes.QzNotes._cRegistry";
inline constexpr const char* kNotifyVersionInterfaces[] = {
    "org.qznotes.QzNotes.cNotify___v0", "org.qznotes.QzNotes.cNotify___v1",
    "org.qznotes.QzNotes.cNotify___v2", "org.qznotes.QzNotes.cNotify___v3"};

inline constexpr char kFactoryInterface[] = "org.qznotes.QzNotes.ClassFactory";
inline constexpr char kCreateObject[] = "CreateObject";
inline constexpr char kDispatchInterface[] = "org.qznotes.QzNotes.IDispatch";
inline constexpr char kProfilesInterface[] = "org.qznotes.QzNotes.Profiles";
// What the server is doing now, on the factory path: Status() -> a{sv}.
inline constexpr char kStatusInterface[] = "org.qznotes.QzNotes.Status";
// Requests that gave up with retries on: List, Retry(s id), Clear.
inline constexpr char kJournalInterface[] = "org.qznotes.QzNotes.Journal";
// Signals for monitors, on the factory path: Delivered(s testId, s outcome,
// as details) after each dispatch run.
inline constexpr char kMonitorInterface[] = "org.qznotes.QzNotes.Monitor";
inline constexpr char kDeliveredSignal[] = "Delivered";
inline constexpr char kDispIdAnnotation[] = "org.qznotes.QzNotes.DispId";
inline constexpr char kOptionalAnnotation[] = "org.qznotes.QzNotes.Optional";
inline constexpr char kIntrospectable[] = "org.freedesktop.DBus.Introspectable";
inline constexpr char kPeer[] = "org.freedesktop.DBus.Peer";

// Run-time errors that reach a client: kErrorPrefix + "E13" ("N5" for -5).
inline constexpr char kErrorPrefix[] = "org.qznotes.QzNotes.Error.";
inline constexpr char kUnknownObjectError[] = "org.freedesktop.DBus.Error.UnknownObject";
// A call that arrives once the server has decided to stop is not run.
inline constexpr char kStoppingError[] = "org.qznotes.QzNotes.Error.Stopping";
// A request the fleet's shared journal cannot keep now is not accepted.
inline constexpr char kJournalUnavailableError[] = "org.qznotes.QzNotes.Error.JournalUnavailable";
// A call past one of the caller's limits is not run; the message names it.
inline constexpr char kLimitsExceededError[] = "org.freedesktop.DBus.Error.LimitsExceeded";
// An outsider's request that names an SMTP server not allowed is not taken.
inline constexpr char kAccessDeniedError[] = "org.freedesktop.DBus.Error.AccessDenied";
// The source of the errors the boundary raises itself.
inline constexpr char kBoundarySource[] = "QzNotes";

// Program identifiers are the library name, a point and the class name.
inline constexpr char kLibraryName[] = "QzNotes";
inline constexpr char kNotifyProgId[] = "QzNotes.cNotify";
inline constexpr char kPagerProgId[] = "QzNotes.cPager";
inline constexpr char kRegistryProgId[] = "QzNotes.cRegistry";

// The client's callback object and the callback component's service.
inline constexpr char kCallbackInterface[] = "org.qznotes.QzNotes.Callback";
inline constexpr char kAgentCallbackMethod[] = "gsubAgentCallBack";
inline constexpr char kCallbackServiceMethod[] = "CallBack";
inline constexpr char kCallbackServicePath[] = "/";
// What a client exports to be called back.
inline constexpr char kAgentCallbackXml[] =
    "<node><interface name='org.qznotes.QzNotes.Callback'>"
    "<method name='gsubAgentCallBack'>"
    "<arg name='testId' type='s' direction='in'/><arg name='message' type='s' direction='in'/>"
    "</method></interface></node>";

// Companion components the server creates late-bound.
inline constexpr char kCallbackProgId[] = "qzCallback.cService";
inline constexpr char kPagerTerminalProgId[] = "QzTerminal.cPager";
inline constexpr char kSmtpMailProgId[] = "qzSMTP.cMail";

// The Variant kinds D-Bus has no type for travel as a `v` holding one byte.
enum class WireMarker : uint8_t { kEmpty = 0, kNull = 1, kNoDimensions = 2, kMissing = 3 };

}  // namespace qz
