"""Quilta's Processing provider: every operation of the Quilta tool window as
a Processing algorithm that runs the quilta program."""


def classFactory(iface):
    from .plugin import QuiltaPlugin
    return QuiltaPlugin(iface)
