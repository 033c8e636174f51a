#!/usr/bin/env bash
# A private CUPS scheduler with one cups-pdf queue as its default printer,
# for tests that print through Wine: clients reach it through
# CUPS_SERVER=DIR/cups.sock, and it stops when the test is done.
# Usage: cups_pdf_printer.sh start DIR QUEUE | stop DIR
# The PDFs arrive where cups-pdf puts them: ~/PDF of the printing user.
set -euo pipefail
cmd=${1:-} dir=${2:-}
[ -n "$dir" ] || { echo "usage: $0 start DIR QUEUE | stop DIR" >&2; exit 2; }
export CUPS_SERVER="$dir/cups.sock"

case "$cmd" in
  start)
    queue=${3:?queue name}
    [ "$(id -u)" = 0 ] || { echo "cups-pdf writes its files as root: run as root" >&2; exit 1; }
    mkdir -p "$dir"/{spool,cache,state,log,ppd,tmp}
    chmod 755 "$dir"
    chmod 1777 "$dir/tmp"
    cat >"$dir/cups-files.conf" <<CONF
ServerRoot $dir
RequestRoot $dir/spool
TempDir $dir/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
SystemGroup root
FileDevice No
CONF
    cat >"$dir/cupsd.conf" <<CONF
Listen $dir/cups.sock
LogLevel warn
Browsing No
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
    cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" </dev/null >"$dir/log/cupsd.out" 2>&1 &
    echo $! >"$dir/cupsd.pid"
    for _ in $(seq 100); do
      lpstat -r 2>/dev/null | grep -q "is running" && break
      sleep 0.1
    done
    lpstat -r | grep -q "is running" || { cat "$dir/log/"* >&2; exit 1; }
    lpadmin -p "$queue" -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
    lpadmin -d "$queue"
    ;;
  stop)
    [ -f "$dir/cupsd.pid" ] || exit 0
    pid=$(cat "$dir/cupsd.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    rm -f "$dir/cupsd.pid"
    ;;
  *)
    echo "usage: $0 start DIR QUEUE | stop DIR" >&2
    exit 2
    ;;
esac
