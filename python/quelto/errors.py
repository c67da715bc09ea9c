"""Exceptions of the binding."""
import re

# A frame of a native call stack: "   at <function> in <module>".
_FRAME = re.compile(r"^[ \t]+at ", re.M)


class QueltoError(RuntimeError):
    """A call failed. The text is the failure's type and message; for a
    library failure, "<C function>: <exception type>: <message>".

    native_stack: the library's call stack at the failure, one frame a line
    ("" when there is none); details: the library's whole last-error text,
    stack included (the text itself for the binding's own failures)."""

    def __init__(self, message, native_stack="", details=None):
        super().__init__(message)
        self.native_stack = native_stack
        self.details = message if details is None else details

    @classmethod
    def from_library(cls, text):
        """The error of a last-error text: its first lines are the summary,
        the frames from the first "   at " line on are the stack."""
        frame = _FRAME.search(text)
        if frame is None:
            return cls(text.rstrip(), "", text)
        return cls(text[:frame.start()].rstrip(), text[frame.start():].rstrip(), text)


class LibraryNotFoundError(QueltoError, OSError):
    """The bridge library is in none of the places looked at (`tried`)."""

    def __init__(self, message, tried=()):
        super().__init__(message)
        self.tried = list(tried)


class CallbackError(QueltoError):
    """A block callback raised; the original exception is the __cause__."""
