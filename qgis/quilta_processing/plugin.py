"""The plugin QGIS loads: it registers the Quilta provider."""

from qgis.core import QgsApplication

from .provider import QuiltaProvider


class QuiltaPlugin:

    def __init__(self, iface=None):
        self.iface = iface
        # Held here for the plugin's life: a provider without a Python
        # reference is collected and vanishes from the registry.
        self.provider = None

    def initProcessing(self):
        if self.provider is None:
            self.provider = QuiltaProvider()
            QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):
        self.initProcessing()

    def unload(self):
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
