"""Immutable sequence constants of the compiled modules."""


class ConstList(tuple):
    """An ordered, immutable list of constants.

    It is a tuple (hashable, read-only) that also compares equal to a list
    holding the same items, so callers may treat it as either.
    """

    __slots__ = ()

    def __eq__(self, other):
        if isinstance(other, list):
            other = tuple(other)
        return tuple.__eq__(self, other)

    def __ne__(self, other):
        result = self.__eq__(other)
        return result if result is NotImplemented else not result

    __hash__ = tuple.__hash__

    def __repr__(self):
        return repr(list(self))
