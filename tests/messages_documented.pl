#!/usr/bin/perl
# Every message text in the sources appears in the manual page and in the
# README: the prose pieces of the string literals of src/, each stripped of
# the punctuation that joins it to names and numbers.
#   messages_documented.pl SOURCE_DIR
use strict;
use warnings;

my $src = shift or die "usage: $0 SOURCE_DIR\n";
# Literals that are formats, names or usage text, not messages.
my %not_messages = map { $_ => 1 } (
  " id ", "  udp ", " lost ", " lost  ", "TRACE_ALIGN_THREADS", "usage: trace_align SD0 SD1 SD2 RD",
);

sub flatten {
  my ($text) = @_;
  $text =~ s/\\f[BIRP]//g;
  $text =~ s/\\-/-/g;
  $text =~ s/\\\(..//g;
  $text =~ s/^\.[A-Z]+ ?//mg;    # macros at the start of a line
  $text =~ s/"//g;
  $text =~ s/`//g;
  $text =~ s/\s+/ /g;
  return $text;
}
sub slurp { local $/; open(my $f, '<', $_[0]) or die "$_[0]: $!\n"; return <$f>; }

my $readme = flatten(slurp("$src/README.md"));
my $missing = 0;
for my $file (glob("$src/src/*/*.cpp")) {
  # Each command's messages in its own manual page.
  # Each command's messages in its own page; the library's in one of them.
  my %docs = (README => $readme);
  if ($file =~ m{/trace_io/}) {
    $docs{"manual pages"} = join(" ", map { flatten(slurp("$src/man/$_")) } qw(trace_align.1 trace_report.1 trace_video.1));
  } else {
    my ($command) = $file =~ m{/src/([^/]+)/};
    $docs{"$command.1"} = flatten(slurp("$src/man/$command.1"));
  }
  my $code = slurp($file);
  next if $file =~ /main\.cpp$/ || $file =~ /report_output\.cpp$/ || $file =~ /table_output\.cpp$/;    # labels, not messages
  next if $file =~ /trace_apps\.cpp$/;    # ns-3 type names and attribute descriptions
  $code =~ s/'(?:[^'\\]|\\.)'//g;    # character literals
  $code =~ s{//[^\n]*}{}g;    # comments
  $code =~ s/static_assert\(.*?\);//gs;
  # Only the usage text is not a message: the synopsis, the intros and
  # footers, and the options' help lines in the option tables.
  $code =~ s/constexpr const char\* k\w*(?:Usage|Synopsis|Footer|Intro)\w* =.*?;\n//gs;
  $code =~ s/"trace_(?:report|video): %s\\n%s"//;    # the frame of the usage errors
  while ($code =~ /"((?:[^"\\]|\\.)*)"/g) {
    my $literal = $1;
    next if $not_messages{$literal} || $literal =~ /^\\r/;    # the progress line
    next if $literal =~ /^  -/ || $literal =~ /^ {10,}/;    # an option's help lines
    $literal =~ s/\\n//g;
    $literal =~ s/%s//g;
    $literal =~ s/^[\s;:,.()]+|[\s;:,(]+$//g;
    next unless $literal =~ /[a-z]{2,} [a-z]{2,}/;    # prose, at least two words
    for my $doc (sort keys %docs) {
      next if index($docs{$doc}, $literal) >= 0;
      print "not in the $doc: \"$literal\" ($file)\n";
      $missing = 1;
    }
  }
}
exit $missing;
