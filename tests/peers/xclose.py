#!/usr/bin/env python3
"""Asks an X11 window to close the way a window manager's close button does.

usage: xclose.py WINDOW_ID      (decimal or 0x..., e.g. from `xdotool search`)"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import window  # noqa: E402

if len(sys.argv) != 2:
    sys.exit(__doc__)
sys.exit(0 if window.xclose(int(sys.argv[1], 0)) else 1)
