"""A tiny native host for libpngcomment.so, through ctypes.

It does what a host program does with the plug-in: hands it the file's bytes,
locks the local-memory handles it gets back, copies their contents out and
frees every handle with the library's own LocalFree.
"""
import ctypes
import os

OK = 0
NOT_SAVED = -5
FAILED = -4


class PngComment:
    def __init__(self, path):
        # Loaded by path, so that the library under test is the one used and
        # never another found on the search path.
        self.lib = ctypes.CDLL(os.path.abspath(path))
        lib = self.lib
        lib.GetComment.argtypes = [ctypes.c_size_t, ctypes.c_char_p, ctypes.c_int32,
                                   ctypes.POINTER(ctypes.c_void_p),
                                   ctypes.POINTER(ctypes.c_void_p)]
        lib.GetComment.restype = ctypes.c_int32
        lib.WriteComment.argtypes = [ctypes.c_size_t, ctypes.c_char_p, ctypes.c_char_p,
                                     ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32]
        lib.WriteComment.restype = ctypes.c_int32
        lib.LocalLock.argtypes = [ctypes.c_void_p]
        lib.LocalLock.restype = ctypes.c_void_p
        lib.LocalUnlock.argtypes = [ctypes.c_void_p]
        lib.LocalUnlock.restype = ctypes.c_int
        lib.LocalFree.argtypes = [ctypes.c_void_p]
        lib.LocalFree.restype = ctypes.c_void_p
        lib.LocalSize.argtypes = [ctypes.c_void_p]
        lib.LocalSize.restype = ctypes.c_size_t

    def _take(self, handle):
        """Copies a handle's whole block out and frees the handle."""
        if not handle:
            return None
        try:
            size = self.lib.LocalSize(handle)
            if size == 0:
                # A block of 0 bytes cannot be locked; it is simply empty.
                return b""
            pointer = self.lib.LocalLock(handle)
            if not pointer:
                raise RuntimeError("LocalLock failed on a block of %d bytes" % size)
            try:
                return ctypes.string_at(pointer, size)
            finally:
                self.lib.LocalUnlock(handle)
        finally:
            if self.lib.LocalFree(handle):
                raise RuntimeError("LocalFree refused a handle the plug-in gave")

    def get_comment(self, png):
        """Returns (code, comment text without its NUL or None, summary bytes)."""
        comment = ctypes.c_void_p()
        summary = ctypes.c_void_p()
        code = self.lib.GetComment(0, png, len(png), ctypes.byref(comment),
                                   ctypes.byref(summary))
        # Take both before checking anything, so that no handle is leaked.
        text = self._take(comment.value)
        info = self._take(summary.value)
        if text is not None:
            # The comment block is the text and exactly one NUL.
            if not text.endswith(b"\0"):
                raise AssertionError("comment block does not end in NUL: %r" % text[-16:])
            text = text[:-1]
        return code, text, info if info is not None else b""

    def write_comment(self, path, png, text):
        return self.lib.WriteComment(0, os.fsencode(path), png, len(png), text, len(text))
