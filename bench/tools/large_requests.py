#!/usr/bin/python3
# One user's flood for dbus_many_clients_bench: N connections, each sending
# one SendMessageCallBackEx whose message is SIZE bytes, mailed through
# SERVER (a tarpit), all at once. Prints one line per answer on stderr.
#   large_requests.py ADDRESS N SIZE SERVER
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

address, count, size, server = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
V = GLib.Variant
text = V("s", "x" * size)
notes = V("av", [V("av", [text])])
emails = V("av", [V("av", [V("av", [V("s", "ops@example.test")])])])
options = V("av", [V(("s"), s) for s in ("stuck", "qz@example.test", "", server, "True")])
loop = GLib.MainLoop()
left = [count]


def answered(connection, result, _):
    try:
        connection.call_finish(result)
        print("accepted", file=sys.stderr)
    except GLib.Error as error:
        print(error.message, file=sys.stderr)
    left[0] -= 1
    if left[0] == 0:
        loop.quit()


flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
         | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
connections = []
for i in range(count):
    c = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    connections.append(c)
    args = V("(vvvvvs)", (notes, emails, V("y", 0), options, V("s", ""), "n%d" % i))
    c.call("org.qznotes.QzNotes", "/org/qznotes/QzNotes", "org.qznotes.QzNotes._cNotify",
           "SendMessageCallBackEx", args, None, Gio.DBusCallFlags.NONE, 600000, None,
           answered, None)
loop.run()
