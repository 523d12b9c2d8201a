#!/usr/bin/python3
"""The X server of DISPLAY as scripts/pictures drives it: the shown windows, a click or a
key as an operator gives them (XTest), a pixel's colour, and a part of the screen saved
as a PNG. Through libX11 and libXtst alone, so that nothing beyond the X libraries the
programs already use is needed.
  x_screen.py windows            x y width height id of each shown top-level window, bottom first
  x_screen.py move ID X Y        puts a window there, as a window manager places a dialog
  x_screen.py click X Y
  x_screen.py key NAME           an X key name: Return, Escape, Tab
  x_screen.py pixel X Y          the colour there as RRGGBB
  x_screen.py grab X Y W H FILE [X Y W H]...
                                 that rectangle of the screen as a PNG, with a thin frame
                                 drawn around each further rectangle (a dialog's edge, which
                                 no window manager draws here)"""
import ctypes
import os
import struct
import sys
import zlib

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
Window = ctypes.c_ulong
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = Window
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XQueryTree.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(Window), ctypes.POINTER(Window),
                           ctypes.POINTER(ctypes.POINTER(Window)), ctypes.POINTER(ctypes.c_uint)]
x11.XGetImage.restype = ctypes.c_void_p
x11.XGetImage.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                          ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XMoveWindow.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_int]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x11.XFree.argtypes = [ctypes.c_void_p]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
IS_VIEWABLE, ZPIXMAP, ALL_PLANES = 2, 2, 0xFFFFFFFF


class WindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", Window), ("class_", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class Image(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong),
                ("green_mask", ctypes.c_ulong), ("blue_mask", ctypes.c_ulong),
                ("obdata", ctypes.c_void_p),
                ("destroy_image", ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p))]


x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, Window, ctypes.POINTER(WindowAttributes)]


def shown_windows(display):
    root, parent = Window(), Window()
    children, count = ctypes.POINTER(Window)(), ctypes.c_uint()
    if not x11.XQueryTree(display, x11.XDefaultRootWindow(display), ctypes.byref(root),
                          ctypes.byref(parent), ctypes.byref(children), ctypes.byref(count)):
        return []
    shown = []
    for i in range(count.value):
        a = WindowAttributes()
        if x11.XGetWindowAttributes(display, children[i], ctypes.byref(a)) and \
                a.map_state == IS_VIEWABLE and a.width > 1 and a.height > 1:
            shown.append((a.x, a.y, a.width, a.height, children[i]))
    if children:
        x11.XFree(children)
    return shown


def screen_rgb(display, x, y, width, height):
    """Rows of RGB bytes; the 24-bit TrueColor screen of Xvfb holds 32-bit pixels."""
    pointer = x11.XGetImage(display, x11.XDefaultRootWindow(display), x, y, width, height,
                            ALL_PLANES, ZPIXMAP)
    if not pointer:
        sys.exit("x_screen.py: %d,%d %dx%d is not on the screen" % (x, y, width, height))
    image = Image.from_address(pointer)
    if image.bits_per_pixel != 32 or image.byte_order != 0:
        sys.exit("x_screen.py: a 24-bit little-endian screen is needed (Xvfb -screen 0 WxHx24)")
    data = ctypes.string_at(image.data, image.bytes_per_line * height)
    rows = []
    for row in range(height):
        line = data[row * image.bytes_per_line:row * image.bytes_per_line + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        rows.append(bytes(rgb))
    image.destroy_image(pointer)
    return rows


def frame(rows, x, y, width, height):
    """A one-pixel grey line just outside the rectangle, where it falls on the picture."""
    grey = b"\x70\x70\x70"
    def dot(px, py):
        if 0 <= py < len(rows) and 0 <= px < len(rows[py]) // 3:
            rows[py][px * 3:px * 3 + 3] = grey
    for px in range(x - 1, x + width + 1):
        dot(px, y - 1)
        dot(px, y + height)
    for py in range(y - 1, y + height + 1):
        dot(x - 1, py)
        dot(x + width, py)


def write_png(path, width, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + \
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    # Filter 0 on every row and no time stamp: the same screen makes the same bytes.
    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as file:
        file.write(b"\x89PNG\r\n\x1a\n" +
                   chunk(b"IHDR", struct.pack(">IIBBBBB", width, len(rows), 8, 2, 0, 0, 0)) +
                   chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(arguments):
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("x_screen.py: no X display (DISPLAY is %r)" % os.environ.get("DISPLAY"))
    command, numbers = arguments[0], [int(a) for a in arguments[1:5] if a.lstrip("-").isdigit()]
    if command == "windows":
        for window in shown_windows(display):
            print("%d %d %d %d %d" % window)
    elif command == "move":
        x11.XMoveWindow(display, Window(int(arguments[1])), int(arguments[2]), int(arguments[3]))
    elif command == "click":
        xtst.XTestFakeMotionEvent(display, 0, numbers[0], numbers[1], 0)
        xtst.XTestFakeButtonEvent(display, 1, 1, 0)
        xtst.XTestFakeButtonEvent(display, 1, 0, 0)
    elif command == "key":
        code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(arguments[1].encode()))
        xtst.XTestFakeKeyEvent(display, code, 1, 0)
        xtst.XTestFakeKeyEvent(display, code, 0, 0)
    elif command == "pixel":
        print(screen_rgb(display, numbers[0], numbers[1], 1, 1)[0].hex().upper())
    elif command == "grab":
        x, y, width, height = numbers
        rows = [bytearray(row) for row in screen_rgb(display, x, y, width, height)]
        framed = [int(a) for a in arguments[6:]]
        for i in range(0, len(framed) - 3, 4):
            frame(rows, framed[i] - x, framed[i + 1] - y, framed[i + 2], framed[i + 3])
        write_png(arguments[5], width, [bytes(row) for row in rows])
    else:
        sys.exit(__doc__)
    x11.XSync(display, 0)


if __name__ == "__main__":
    main(sys.argv[1:] or ["help"])
