"""The analysed layer: how quilta is told which data to analyse, and how QGIS
is shown what quilta wrote into it."""

import os

from qgis.core import QgsProcessingException, QgsProject, QgsProviderRegistry, QgsVectorLayer
from qgis.PyQt.QtCore import QCoreApplication, QObject, QThread, pyqtSignal


def _parts(layer):
    if not isinstance(layer, QgsVectorLayer) or layer.providerType() != 'ogr':
        return None
    return QgsProviderRegistry.instance().decodeUri('ogr', layer.source())


def data_key(layer):
    """What identifies the layer's data (its file), or None when Quilta
    cannot analyse it."""
    parts = _parts(layer)
    if not parts or not parts.get('path'):
        return None
    return os.path.realpath(parts['path'])


def layer_arguments(layer):
    """The arguments that name the layer's data on quilta's command line:
    the path of a shapefile. Raises QgsProcessingException for data quilta
    cannot open."""
    parts = _parts(layer)
    path = parts.get('path', '') if parts else ''
    if path.lower().endswith('.shp'):
        return [os.path.abspath(path)]
    raise QgsProcessingException(
        'Quilta analyses polygon shapefiles (.shp); the layer "{}" comes from "{}".'.format(
            layer.name(), path or layer.source()))


def same_data_in_project(layer, project):
    """The ids of the layers of `project` that show the data of `layer`."""
    key = data_key(layer)
    if not project or key is None:
        return []
    return [i for i, l in project.mapLayers().items() if data_key(l) == key]


def _reload(layers):
    # QGIS reads the file again, so that the fields quilta added or deleted show.
    for layer in layers:
        layer.dataProvider().reloadData()
        layer.updateFields()
        layer.triggerRepaint()


class _Reloader(QObject):
    """Reloads project layers in the main thread, where layers live, when a
    run ends in a worker thread."""
    requested = pyqtSignal(list)

    def __init__(self):
        super().__init__()
        self.requested.connect(self._reload_ids)

    def _reload_ids(self, ids):
        project = QgsProject.instance()
        _reload([project.mapLayer(i) for i in ids if project.mapLayer(i) is not None])


_RELOADER = _Reloader()  # made when the plugin is loaded, in the main thread


def reload_after_run(layer, project_ids):
    """Shows what a run wrote in `layer` and in the project layers
    `project_ids`: at once in the main thread, else as soon as the main thread
    gets to it."""
    if QThread.currentThread() == QCoreApplication.instance().thread():
        project = QgsProject.instance()
        others = [project.mapLayer(i) for i in project_ids]
        _reload([layer] + [l for l in others if l is not None and l is not layer])
    else:
        _RELOADER.requested.emit(list(project_ids))
