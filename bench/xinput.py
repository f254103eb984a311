"""Key presses for the whole-process benchmarks, through the XTEST extension of the display it
runs on (a lab's own Xvfb: start it inside the lab host, with DISPLAY set). One process for the
whole run, so a key press costs no process start, and the time it reports is that of the press
itself. Commands on stdin, one answer line each on stdout:

    type <text>     presses and releases the keys of <text> (letters and digits); "typed"
    enter           presses Return; "enter <wall-clock seconds just before the press>"
    quit
"""

import ctypes
import os
import sys
import time

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]


def main():
    display = x11.XOpenDisplay(os.environ["DISPLAY"].encode())
    if not display:
        print("error no display", flush=True)
        return

    def code(name):
        return x11.XKeysymToKeycode(display, x11.XStringToKeysym(name.encode()))

    def press(keycode):
        xtst.XTestFakeKeyEvent(display, keycode, 1, 0)
        xtst.XTestFakeKeyEvent(display, keycode, 0, 0)

    print("ready", flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "quit":
            break
        if words[0] == "type":
            for character in words[1]:
                press(code(character))
            x11.XSync(display, 0)
            print("typed", flush=True)
        elif words[0] == "enter":
            keycode = code("Return")
            pressed = time.time()
            press(keycode)
            x11.XFlush(display)
            print("enter %.6f" % pressed, flush=True)
        else:
            print("error", flush=True)


if __name__ == "__main__":
    main()
