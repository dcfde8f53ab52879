#!/bin/bash
# zorvexd_run.sh - download benchmark of zorvexd against the local INN:
# posts N MB of multipart yEnc, runs "zorvexd -auto -autoexit" on it and
# prints MB, wall and CPU seconds, MB/s and the files verified by sha256.
# The work is done by zorvexd_run.py beside this script; --help lists the
# options (--mb N, default 300).
exec python3 "$(dirname "$0")/zorvexd_run.py" "$@"
