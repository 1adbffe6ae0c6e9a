#!/usr/bin/perl
# A loopback RFC 1861 gateway for the tests: Net::SNPP::Server on a free
# port, serving one connection after another. Every command it processes and
# every page it takes is appended to the record file; the port goes to the
# port file once it listens. Stops by itself after the given seconds. PORT,
# when given, is listened on instead of a free one (a gateway started again).
#   rfc1861_gateway.pl PORT_FILE RECORD_FILE SECONDS [PORT]
use strict;
use warnings;
use IO::Handle;
use Socket;
use Net::SNPP::Server;

my ($port_file, $record_file, $lifetime, $listen_port) = @ARGV;
alarm($lifetime || 600);

open(my $record, '>>', $record_file) or die "cannot write $record_file: $!";
$record->autoflush(1);

my $server = Net::SNPP::Server->new(Port => $listen_port || 0);
my ($port) = sockaddr_in(getsockname($server->socket));

$server->callback('write_log', sub { print $record "LOG @_\n"; });
$server->callback('process_page', sub {
  my ($pager, $page, $results) = @_;
  print $record "PAGED $pager->[0] $page->{mess}\n";
  push(@$results, [$pager, $page]);
  return 1;
});

open(my $out, '>', "$port_file.tmp") or die "cannot write $port_file: $!";
print $out "$port\n";
close($out);
rename("$port_file.tmp", $port_file) or die "cannot rename $port_file: $!";

while (my $client = $server->client()) {
  $server->handle_client($client);
  print $record "END\n";
  close($client);
}
