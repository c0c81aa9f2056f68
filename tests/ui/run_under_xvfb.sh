#!/bin/sh
# Runs a test program on an X server: the desktop's own when DISPLAY is set,
# else a private Xvfb started for it.
if [ -n "$DISPLAY" ]; then
    exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
