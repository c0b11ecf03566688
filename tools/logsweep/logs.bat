#!/bin/sh
# logs.bat: the installation's log collection script, run by logsweep from its current
# folder as
#     /bin/sh ./logs.bat YYYYMMDD M/D/YYYY QEL_ANALYSIS_<date>_<time>.tgz <installation folder>
# It archives every *.txt, *.dat and *.csv file under the installation folder, by names
# relative to that folder, into the named gzip-compressed tar archive in the current
# folder (readable by its owner only), and then lists what it archived on standard
# output. It exits with 1 when the folder cannot be entered, when no file matches or when
# tar fails, with 2 on a wrong command line. (The name stays the installation's, though
# this is a /bin/sh script.)

if [ $# -ne 4 ]; then
    echo "usage: logs.bat YYYYMMDD M/D/YYYY ARCHIVE FOLDER" >&2
    exit 2
fi
archive=$3
folder=$4
case $folder in
    -*) folder=./$folder ;;
esac

if ! [ -d "$folder" ] || ! (cd "$folder") 2>/dev/null; then
    echo "logs.bat: cannot enter the folder [$4]" >&2
    exit 1
fi

# NUL-separated names, so that any name (blanks, quotes, line breaks) goes to tar whole;
# sorted, so that the archive lists them in a stable order.
list=$(mktemp) || exit 1
trap 'rm -f "$list"' EXIT
(cd "$folder" && find . -type f \( -name '*.txt' -o -name '*.dat' -o -name '*.csv' \) -printf '%P\0') |
    LC_ALL=C sort -z > "$list"
if ! [ -s "$list" ]; then
    echo "logs.bat: no *.txt, *.dat or *.csv file under [$4]" >&2
    exit 1
fi

# The archive holds the gateway's binary logs, which hold sign-on records: its owner's
# alone, whatever umask the script was started with.
umask 077

# tar answers 1 when a file changed while it was read: a running gateway writes its logs
# all the time, and the archive is complete all the same.
status=0
tar -czf "$archive" -C "$folder" --null -T "$list" || status=$?
if [ "$status" -gt 1 ]; then
    echo "logs.bat: tar failed with $status" >&2
    rm -f "$archive"
    exit 1
fi

echo "Logs of $2 ($1) from [$4] in $3:"
tr '\0' '\n' < "$list"
[ "$status" -eq 1 ] && echo "(some files changed while they were archived)"
exit 0
