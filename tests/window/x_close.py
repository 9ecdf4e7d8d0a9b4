#!/usr/bin/python3
"""What a window manager does for the window tests, with Debian's python3-xlib.

  x_close.py atoms          creates WM_PROTOCOLS and WM_DELETE_WINDOW (start Xvfb with -noreset,
                            so they outlive this client); JUCE asks for the close message only
                            when they exist as it opens the display.
  x_close.py close WINDOW   sends WINDOW the WM_DELETE_WINDOW client message that a title-bar
                            close button sends.
"""
import sys

from Xlib import X, display
from Xlib.protocol import event


def main():
    d = display.Display()
    protocols = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    if sys.argv[1] == "close":
        window = d.create_resource_object("window", int(sys.argv[2], 0))
        message = event.ClientMessage(window=window, client_type=protocols,
                                      data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(message, event_mask=X.NoEventMask)
    d.sync()
    d.close()


if __name__ == "__main__":
    main()
