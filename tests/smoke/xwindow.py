"""Finds a program's top-level X window and closes it as a user's window manager would."""
import time

from Xlib import X, protocol


def wait_for_window(dpy, title, running, timeout):
    """The viewable top-level window with this title; None once running() is false or
    timeout seconds have passed."""
    root = dpy.screen().root
    deadline = time.time() + timeout
    while time.time() < deadline and running():
        for child in root.query_tree().children:
            try:
                if child.get_wm_name() == title and child.get_attributes().map_state == X.IsViewable:
                    return child
            except Exception:
                continue  # a window that went away meanwhile
        time.sleep(0.2)
    return None


def close_request(dpy, window):
    """The WM_DELETE_WINDOW message a window manager sends when the user closes a window."""
    return protocol.event.ClientMessage(window=window, client_type=dpy.intern_atom("WM_PROTOCOLS"),
                                        data=(32, [dpy.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
