"""Exceptions of the binding."""


class QueltoError(RuntimeError):
    """A library call failed; the message is the library's last-error text."""


class LibraryNotFoundError(QueltoError, OSError):
    """The bridge library is in none of the places looked at (`tried`)."""

    def __init__(self, message, tried=()):
        super().__init__(message)
        self.tried = list(tried)


class CallbackError(QueltoError):
    """A block callback raised; the original exception is the __cause__."""
