"""The Processing provider "Quilta": the tool's operations in the toolbox."""

from qgis.core import QgsProcessingProvider
from qgis.PyQt.QtGui import QIcon

from .algorithms import ICON, all_algorithms
from .settings import add_settings, remove_settings


class QuiltaProvider(QgsProcessingProvider):

    def load(self):
        add_settings(self.name(), self.icon())
        self.refreshAlgorithms()
        return True

    def unload(self):
        remove_settings()

    def id(self):
        return 'quilta'

    def name(self):
        return 'Quilta'

    def longName(self):
        return 'Quilta landscape metrics'

    def icon(self):
        return QIcon(ICON)

    def svgIconPath(self):
        return ICON

    def loadAlgorithms(self):
        for algorithm in all_algorithms():
            self.addAlgorithm(algorithm)

    # quilta writes its core area layers as shapefiles.
    def supportedOutputVectorLayerExtensions(self):
        return ['shp']

    def defaultVectorFileExtension(self, hasGeometry=True):
        return 'shp'
