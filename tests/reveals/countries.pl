#!/usr/bin/perl
# Writes the country database the tests read, in MaxMind's layout, to the file named first: loopback addresses in
# Germany and France, one with only a registered country (AT), and an IPv6 network (NL).
use strict;
use warnings;
use MaxMind::DB::Writer::Tree;

my %types = (country => 'map', registered_country => 'map', iso_code => 'utf8_string');
my $tree = MaxMind::DB::Writer::Tree->new(ip_version => 6, record_size => 24, database_type => 'Quillfen-Test-Country',
    languages => ['en'], description => { en => 'Loopback countries' }, remove_reserved_networks => 0,
    alias_ipv6_to_ipv4 => 1, map_key_type_callback => sub { $types{ $_[0] } });
$tree->insert_network('127.0.0.2/32', { country => { iso_code => 'DE' } });
$tree->insert_network('127.0.0.3/32', { country => { iso_code => 'FR' }, registered_country => { iso_code => 'DE' } });
$tree->insert_network('127.0.0.4/32', { registered_country => { iso_code => 'AT' } });
$tree->insert_network('2001:db8::/32', { country => { iso_code => 'NL' } });
open my $out, '>:raw', $ARGV[0] or die "$ARGV[0]: $!\n";
$tree->write_tree($out);
close $out or die "$ARGV[0]: $!\n";
