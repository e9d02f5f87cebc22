#!/usr/bin/env bash
# What a user's machine sees of the project: the installed layout, the
# manual page, and the plot of the example run.
#   package_checks.sh install|manual|messages|plot SOURCE_DIR BUILD_DIR
set -euo pipefail
check=$1 src=$2 build=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

case $check in
install)
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  test -x "$scratch/prefix/bin/trace_align"
  test -x "$scratch/prefix/bin/trace_align-plot"
  test -x "$scratch/prefix/bin/trace_report"
  test -f "$scratch/prefix/share/man/man1/trace_report.1"
  test -f "$scratch/prefix/share/man/man1/trace_align.1"
  if [ -x "$build/trace_video" ]; then
    test -x "$scratch/prefix/bin/trace_video"
    test -f "$scratch/prefix/share/man/man1/trace_video.1"
  fi
  cd "$scratch"
  set +e
  out=$("$scratch/prefix/bin/trace_align" 2>&1)
  status=$?
  set -e
  [ "$status" = 1 ] && [ "$out" = "check input files and try again" ]
  ;;
manual)
  command -v groff >/dev/null || { echo "groff missing"; exit 77; }
  warnings=$(groff -man -ww -z "$src/man/trace_align.1" "$src/man/trace_report.1" "$src/man/trace_video.1" 2>&1)
  [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
  if command -v man >/dev/null; then
    warnings=$(man --warnings -l "$src/man/trace_align.1" "$src/man/trace_report.1" "$src/man/trace_video.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
  fi
  ;;
messages)
  perl "$src/tests/messages_documented.pl" "$src"
  ;;
plot)
  command -v gnuplot >/dev/null || { echo "gnuplot missing"; exit 77; }
  cd "$scratch"
  ex=$src/examples
  "$build/trace_align" "$ex/sd0.txt" "$ex/sd1.txt" "$ex/sd2.txt" "$ex/rd.txt" || true
  "$src/scripts/plot" "$scratch" "$scratch/frames.png" >/dev/null
  # A PNG starts with its 8-byte signature and is far larger than it.
  [ "$(head -c 8 frames.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]
  [ "$(wc -c < frames.png)" -gt 10000 ]
  "$build/trace_report" --frames table.csv "$ex/sd0.txt" "$ex/sd1.txt" "$ex/sd2.txt" "$ex/rd.txt" >/dev/null
  "$src/scripts/plot" --frames table.csv delays.png >/dev/null
  [ "$(head -c 8 delays.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]
  [ "$(wc -c < delays.png)" -gt 10000 ]
  if [ -x "$build/trace_video" ]; then
    v=$ex/video
    "$build/trace_video" receive --frames quality.csv "$v/clip.mp4" "$v/sd0" "$v/sd1" "$v/sd2" "$v/rd" >/dev/null
    "$src/scripts/plot" --video quality.csv quality.png >/dev/null
    [ "$(head -c 8 quality.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]
    [ "$(wc -c < quality.png)" -gt 10000 ]
  fi
  ;;
esac
