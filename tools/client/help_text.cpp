#include "client/help_text.h"

#include <algorithm>

#include "client/command_table.h"
#include "client/gateway_words.h"

namespace qz::client {
namespace {

constexpr std::string_view kGeneralHead =
    R"txt(Usage: qznotes [BUS OPTIONS] [--json] COMMAND [ARGS...]

Talks to the QzNotes notification server over D-Bus.

Commands:
)txt";

constexpr std::string_view kGeneralTail =
    R"txt(  help CMD      the options of one command (also: qznotes CMD --help)

Bus options (before or among a command's options):
  --session        the session bus (default)
  --system         the system bus
  --address ADDR   the message bus at this D-Bus address
  --dest NAME      the server's bus name (default org.qznotes.QzNotes)
  --json           print results, and errors on standard error, as JSON
  --version        print the version and exit

A remote server, over its HTTP API instead of the bus (send, status,
test-gateway and watch; the same output and exit statuses):
  --url URL           the server's API, e.g. https://host:8443
  --token-file FILE   the bearer token alone on one line; refused when
                      anyone but its owner may read the file (chmod 600)
  --cacert FILE       check the server's certificate against this CA (PEM)
                      instead of the system's
  --insecure          do not check the server's certificate at all: anyone
                      on the way can read the token (for tests only)

Exit status: 0 success; 1 the server refused, failed to deliver, answered
false or raised an error; 2 usage error, bus failure, no answer from --url
or no callback in time.
Warnings about a request that will not do what it seems to go to standard
error.
)txt";

constexpr std::string_view kTestGatewayHead =
    R"txt(Usage: qznotes test-gateway [--timeout SECONDS] INDEX NUMBER

Sends "This is Alert Test Message" to NUMBER (a pager identifier or mobile
number) through gateway INDEX at once (gvarTestGateway) and prints the answer:
)txt";

constexpr std::string_view kTestGatewayOptions = R"txt(
  --timeout SECONDS   give up waiting after this long (default: wait as long
                      as the gateway's own time limits take)

)txt";

constexpr size_t kHelpWidth = 78;

// `text` broken between words into lines of at most kHelpWidth characters.
std::string Wrapped(std::string_view text) {
  std::string wrapped;
  size_t line = 0;
  while (!text.empty()) {
    const size_t blank = text.find(' ');
    const std::string_view word = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    if (line > 0 && line + 1 + word.size() > kHelpWidth) {
      wrapped += '\n';
      line = 0;
    } else if (line > 0) {
      wrapped += ' ';
      ++line;
    }
    wrapped += word;
    line += word.size();
  }
  return wrapped + "\n";
}

}  // namespace

const std::string_view kSendHelp =
    R"txt(Usage: qznotes send [OPTIONS] --message TEXT [RECIPIENTS] [--message ...]...

Builds one request: groups of messages, each message with its e-mail
addresses and pager numbers. The first --message opens group 1 by itself.

Request:
  -g, --group            start a new group
  -m, --message TEXT     add a message to the current group
  -e, --email ADDR       add an e-mail address to the latest message
  -p, --pager NUMBER     add a pager identifier or mobile number to the latest message
  --test-id ID           the request's test identifier (default: a new qznotes-<uuid>)

Mail (e-mail goes out only with a subject):
  -s, --subject TEXT     subject
  --from ADDR            sender address for SMTP
  --profile NAME         mail profile
  --smtp-server HOST     SMTP server
  --prefer-smtp          use SMTP even when a mail profile could be used

Callback:
  -w, --wait             receive the callback on this client and print its message
  --timeout SECONDS      how long --wait waits (default 30)
  --callback-host HOST   have the server call back the callback service on HOST
  --hold SECONDS         without --wait: keep the object this long after the
                         answer (default 3); releasing it earlier cancels the
                         request, which the server dispatches about 1 s later

Before sending, warns on standard error when the request will deliver
nothing, or part of it nothing: a message without recipients, --email
without a mail route (--smtp-server with --from, or --profile), a --timeout
the server's 1 s dispatch delay uses up. The request is sent all the same.

Without --wait, prints the server's answer; exit 0 for "Notes Server: Asynch
mode", else 1. With --wait, prints the callback's message; exit 0 for
"QzNotes: Message Sent", 1 for an undeliverable outcome or a refused request,
2 when no callback came in time. After an undeliverable outcome, each failed
step of the run and its reason follow on standard error, as the Delivered
signal the server sends the request's creator gives them.

With --url: --callback-host takes the http(s) URL the server calls back;
--wait follows the server's event stream; --prefer-smtp is not offered
(the server chooses the mail route) and --hold is not needed.
)txt";

const std::string_view kSettingsHelp = R"txt(Usage: qznotes settings [show]
       qznotes settings get GROUP
       qznotes settings set [--force] SECTION KEY=VALUE...

show   every group, one KEY=VALUE line per setting
get    one group: terminal-short, terminal, gateways, sms (QzNotes.ini through
       gvarGetSettings and gvarGetPagerSettings), terminal-ex (QzPage.ini),
       snpp (QzSNPP.ini), gateways-ex, sms-ex (QzSMS.ini) through
       gvarGetPagerSettingsEx
set    writes the keys into SECTION with gblnSetPagerSettingsEx: "Default" is
       the section of QzNotes.ini; any other section is written to the file
       its "path" key in QzNotes.ini names. "Pager Terminal" goes to
       QzNotes.ini, where the pager terminal reads it, with gblnSetSettings:
       only Number, Settings, ComPort and HandShaking; any other key is not
       written (false, exit 1). Prints true or false; exit 0 or 1;
       after false, says on standard error why the server could not write.
       Warns about what the server never reads: a section or key it does not
       know, an Index other than 0, 1, 2, a port or number that is none, a
       value longer than 99 characters. A warned write is not sent (false,
       exit 1) unless --force (-f) is given.

JSON (--json): a group is one object keyed by setting name.

A group whose file is missing shows "(no settings file)".
)txt";

const std::string_view kCallHelp =
    R"txt(Usage: qznotes call [--class cNotify|cPager] OPERATION|DISPID [ARG...]
       qznotes call --list [cNotify|cPager]

Creates an object of the class (default cNotify), calls the operation by its
name (any letter case) or through IDispatch.Invoke by its dispatch identifier
(0x6003000A or decimal), prints the result and any by-reference values, and
releases the object. Options go before the operation: after it every word is
an argument. --list (-l) prints the class's operations, one a line: dispatch
identifier, name, parameter types and names, result types.

Arguments are GVariant text, read for the parameter's type:
  '"text"' or a plain word      a string (for a string or Variant parameter)
  1, '@n 1', 'int16 1'          numbers: 16-bit for an n parameter, 32-bit
                                by default in a Variant
  true, false                   Booleans
  '["a", "b"]', '[<1>, <"a">]'  arrays; [] is an empty array
  "('', '/')"                   an object reference (bus name, path); "/" is none
  empty, null, nodim, missing   Empty, Null, the array with no dimensions, Missing
Variant parameters left out at the end are sent as missing.

Exit status: 0 when the server answered; 1 when it answered the Boolean False
(as settings set) or raised a run-time error (printed as "error E<number>:
<source>: <description>"); 2 for usage or bus errors.
)txt";

const std::string_view kProfilesHelp = R"txt(Usage: qznotes profiles [list]
       qznotes profiles set NAME --transport URL|sendmail [--from ADDRESS]
       qznotes profiles remove NAME

The mail profiles a request may name (its --profile) for the profile route,
kept in the server's registry store.

list     the profile names, one a line (JSON: an array)
set      creates or replaces profile NAME: --transport is smtp://[USER:PASS@]HOST[:PORT]
         or smtps://..., or sendmail for the local "sendmail -t -i";
         --from is the sender address of its mail
remove   deletes profile NAME

On the system bus only root and members of the group qznotes may set and
remove profiles. Exit status: 0 done; 1 the server refused; 2 usage or bus
errors.
)txt";

const std::string_view kJournalHelp =
    R"txt(Usage: qznotes journal [list|clear] [--failed] [--folder DIR] [--system]
       qznotes journal retry ID|--all

The server's request journal: requests it answered "Notes Server: Asynch mode"
whose runs have not ended. A daemon that starts delivers what an earlier one
left there. Read from the program folder directly, so it works while the
daemon is down.

list     the requests left, file by file (default); a damaged file's
         readable requests, with how much of it could not be read; what is
         no journal file (links, folders, other files) is named on stderr
clear    removes every file no running daemon holds: its requests are dropped
         (damaged files a daemon kept aside in damaged/ stay)

With [Delivery] Attempts above 1, a request that gave up stays in the
journal as failed for [Delivery] KeepFailed days (default 7), never run again
by a restart:
list --failed    those requests: ID, test identifier, when accepted, when
                 failed, and the failures of their log entry
retry ID|--all   the running daemon sends one (or all) again as a new
                 request, with the same callback and the [Delivery] of now
clear --failed   the running daemon drops them

When the daemon on the bus keeps its journal in a fleet's database
(qznotesd --journal postgresql://...), list ends with the fleet's daemons
and the tries none of them can claim, and list --failed shows the fleet's
failed requests as that daemon reads them from the database.

  --folder DIR   the program folder (default: with --system the system
                 daemon's; else the one of the daemon on the bus; else
                 QZNOTES_FOLDER, else the folder of the installed programs)

The system daemon's journal is readable by root and the group qznotes, and
only they may retry or clear its failed requests. Exit status: 0 done; 1 a
program folder that is not there, a running daemon holds a file clear left,
or no failed request has that ID; 2 usage or bus errors, or a journal folder
that cannot be read.
)txt";

const std::string_view kTokensHelp =
    R"txt(Usage: qznotes tokens [list] [--folder DIR] [--system]
       qznotes tokens add NAME --rights RIGHTS
       qznotes tokens remove NAME

The bearer tokens that the daemon's HTTP API (qznotesd --listen) accepts, in
QzTokens.ini in the program folder. Only a hash of each token is kept.

list     each token's name and rights (default)
add      makes a new random token NAME with RIGHTS (comma-separated: send,
         test, read, settings, journal) and prints it once: keep it, it
         cannot be shown again
remove   withdraws the token NAME; the daemon stops accepting it at once

  --folder DIR   the program folder (default: with --system the system
                 daemon's; else the one of the daemon on the bus; else
                 QZNOTES_FOLDER, else the folder of the installed programs)

The file is created with mode 0600; the daemon refuses every token while
anyone but its own user may read it. Exit status: 0 done; 1 no token of that
name, or a token of that name exists already; 2 usage errors, or a file that
cannot be read or written.
)txt";

const std::string_view kWatchHelp = R"txt(Usage: qznotes watch [--json] [--count N]

Prints the server's Delivered signal after each dispatch run, live: the test
identifier and outcome, then what each channel did for each group (with
--json: one object a line, {"testId", "outcome", "details"}). Ends on Ctrl+C
or after N deliveries. On the system bus only root and members of the group
qznotes receive them.

Exit status: 0 interrupted or N printed; 2 usage or bus errors.
)txt";

const std::string_view kStatusHelp = R"txt(Usage: qznotes status [--json]

Asks the running server what it is doing: version and uptime, requests
pending and waiting for a retry, failed ones kept in the journal, the
journal's size, each gateway's last success and last failure (time and
text) and whether it is up, the bus it serves on and the limits in force.
--json prints the same as one JSON object. Never starts a server.

Exit status: 0 the server answered; 1 no server is running; 2 usage or bus
errors.
)txt";

std::string_view TestGatewayHelp() {
  // The gateways' lines follow the gateway table.
  static const std::string text = [] {
    std::string gateways;
    for (const PagingGateway& gateway : BuiltInGateways().paging)
      gateways += (gateways.empty() ? "" : ", ") + std::to_string(gateway.number) + " " +
                  gateway.description;
    const auto replies = [](const PagingGateway& g) { return g.test_answers_reply; };
    std::string reply_rule =
        GatewaysOr([](const PagingGateway& g) { return std::to_string(g.number); }, replies);
    if (!reply_rule.empty())
      reply_rule = " or, with INDEX " + reply_rule + ", a reply of " +
                   GatewaysOr([](const PagingGateway& g) { return g.description; }, replies);
    return std::string(kTestGatewayHead) + Wrapped(gateways + ".") +
           std::string(kTestGatewayOptions) +
           Wrapped("Exit status: 0 for \"Message Sent\"" + reply_rule +
                   "; 1 for any other answer or a run-time error; 2 for usage or bus errors.");
  }();
  return text;
}

std::string HelpText(std::string_view topic) {
  if (const CommandEntry* entry = FindCommand(topic)) return std::string(entry->help);
  std::string text(kGeneralHead);
  for (const CommandEntry& c : AllCommands()) {
    std::string name(c.name);
    name.resize(std::max<size_t>(name.size() + 1, 14), ' ');
    text += "  " + name + std::string(c.summary) + "\n";
  }
  return text + std::string(kGeneralTail);
}

}  // namespace qz::client
