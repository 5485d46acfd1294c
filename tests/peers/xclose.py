#!/usr/bin/env python3
"""Asks an X11 window to close the way a window manager's close button does: sends it
a WM_PROTOCOLS client message carrying WM_DELETE_WINDOW.  Needs no window manager.

usage: xclose.py WINDOW_ID      (decimal or 0x..., e.g. from `xdotool search`)"""
import ctypes
import sys

x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


if len(sys.argv) != 2:
    sys.exit(__doc__)
dpy = x.XOpenDisplay(None)
if not dpy:
    sys.exit("xclose: cannot open the display")
window = int(sys.argv[1], 0)
event = XEvent()
event.xclient.type = 33  # ClientMessage
event.xclient.window = window
event.xclient.message_type = x.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
event.xclient.format = 32
event.xclient.data[0] = x.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
sent = x.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
x.XFlush(dpy)
x.XCloseDisplay(dpy)
sys.exit(0 if sent else 1)
