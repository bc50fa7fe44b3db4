"""The analysed layer: how quilta is told which data to analyse, and how QGIS
is shown what quilta wrote into it."""

import os

from qgis.core import QgsDataSourceUri, QgsProcessingException, QgsProject, QgsProviderRegistry, QgsVectorLayer
from qgis.PyQt.QtCore import QCoreApplication, QObject, QThread, pyqtSignal


def _parts(layer):
    if not isinstance(layer, QgsVectorLayer) or layer.providerType() != 'ogr':
        return None
    return QgsProviderRegistry.instance().decodeUri('ogr', layer.source())


def _postgres(layer):
    """The connection string (libpq's, which GDAL's "PG:" takes) and the
    schema-qualified table of a PostGIS layer, or None."""
    if not isinstance(layer, QgsVectorLayer) or layer.providerType() != 'postgres':
        return None
    uri = QgsDataSourceUri(layer.source())
    table = '{}.{}'.format(uri.schema() or 'public', uri.table())
    # connectionInfo(True) fills in a password kept in QGIS's authentication store.
    return uri.connectionInfo(True), table


def data_key(layer):
    """What identifies the layer's data (its file and layer, or its table),
    or None when Quilta cannot analyse it."""
    pg = _postgres(layer)
    if pg:
        return pg
    parts = _parts(layer)
    if not parts or not parts.get('path'):
        return None
    return os.path.realpath(parts['path']), parts.get('layerName') or ''


def layer_arguments(layer):
    """The arguments that name the layer's data on quilta's command line: the
    path of a shapefile, a GeoPackage with the chosen layer, or a PostGIS
    connection with its table. Raises QgsProcessingException for data quilta
    cannot open."""
    pg = _postgres(layer)
    if pg:
        return ['PG:' + pg[0], '--layer=' + pg[1]]
    parts = _parts(layer)
    path = parts.get('path', '') if parts else ''
    if path.lower().endswith('.shp'):
        return [os.path.abspath(path)]
    if path.lower().endswith('.gpkg'):
        name = parts.get('layerName')
        return [os.path.abspath(path)] + (['--layer=' + name] if name else [])
    raise QgsProcessingException(
        'Quilta analyses polygon layers of shapefiles (.shp), GeoPackages (.gpkg) and PostGIS tables; '
        'the layer "{}" comes from "{}".'.format(layer.name(), path or layer.source()))


def same_data_in_project(layer, project):
    """The ids of the layers of `project` that show the data of `layer`."""
    key = data_key(layer)
    if not project or key is None:
        return []
    return [i for i, l in project.mapLayers().items() if data_key(l) == key]


def _reload(layers):
    # QGIS reads the file again, so that the fields quilta added or deleted show.
    for layer in layers:
        if layer.providerType() == 'postgres':
            # PostGIS layers keep the columns they were opened with: open the table anew.
            layer.setDataSource(layer.source(), layer.name(), 'postgres')
        else:
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
