"""One Processing algorithm per operation of the Quilta tool window. Each is a
run of the quilta program on the layer's file: the parameters are quilta's
options, the fields quilta writes land in the layer itself (reloaded in QGIS
afterwards), the result windows become an HTML page and the reports are saved
into a folder. No metric is computed here."""

import os
import re

from qgis.core import (QgsProcessing, QgsProcessingAlgorithm, QgsProcessingContext, QgsProcessingException,
                       QgsProcessingOutputLayerDefinition, QgsProcessingOutputVectorLayer,
                       QgsProcessingParameterBoolean, QgsProcessingParameterDefinition, QgsProcessingParameterEnum,
                       QgsProcessingParameterField, QgsProcessingParameterFileDestination,
                       QgsProcessingParameterFolderDestination, QgsProcessingParameterNumber,
                       QgsProcessingParameterString, QgsProcessingParameterVectorDestination,
                       QgsProcessingParameterVectorLayer, QgsProcessingUtils, QgsUnitTypes)

from qgis.PyQt.QtGui import QIcon

from . import layers, program, result_html
from .settings import configured_program

ICON = os.path.join(os.path.dirname(__file__), 'icon.svg')
PATCH_FIELDS = ('patchfields', 'Patch fields')
STATISTICS = ('statistics', 'Class and landscape statistics')
UTILITIES = ('utilities', 'Utilities')
CATALOGUE = ('catalogue', 'Landscape metrics catalogue')


class Operation:
    """An operation of the tool window as an algorithm: `op` is its name on
    quilta's command line; the flags say which options it takes."""

    def __init__(self, alg_id, op, title, group, help_text, classes=True, buffer=False, core=False, potential=False,
                 fields=False, window=False):
        self.alg_id, self.op, self.title, self.group, self.help_text = alg_id, op, title, group, help_text
        self.classes, self.buffer, self.core, self.potential = classes, buffer, core, potential
        self.fields, self.window = fields, window


_NEEDS_AREA = ' Needs the "Area" and "Perimeter" fields (Area / perimeter).'
_NEEDS_NN = ' Needs the nearest-neighbour fields (Nearest neighbour).'

OPERATIONS = [
    Operation('areaperimeter', 'area-perimeter', 'Area / perimeter', PATCH_FIELDS,
              'Writes the "Area" and "Perimeter" of every patch into the layer.', classes=False),
    Operation('nearestneighbour', 'nearest-neighbour', 'Nearest neighbour', PATCH_FIELDS,
              'Writes "NNDist", "NNId" and "NN_Area": the distance to the nearest patch of the same class, '
              'its identifier and its area.'),
    Operation('px92', 'px92', 'Proximity index PX92', PATCH_FIELDS,
              'Writes the proximity index of Gustafson & Parker (1992) into "PX92_" followed by the suffix.' + _NEEDS_NN,
              buffer=True),
    Operation('px94', 'px94', 'Proximity index PX94', PATCH_FIELDS,
              'Writes the proximity index of Gustafson & Parker (1994) into "PX94_" followed by the suffix.' +
              _NEEDS_NN + ' Needs the "Area" field.', buffer=True),
    Operation('proximity', 'proximity', 'Proximity index (fragstats)', PATCH_FIELDS,
              'Writes the proximity index of McGarigal & Marks (1995) into "PXfg_" followed by the suffix, '
              'and shows its class and landscape statistics.', buffer=True, window=True),
    Operation('dissolveid', 'dissolve-id', 'Dissolve ID', UTILITIES,
              'Numbers the groups of touching patches of each class in the field "DissolveID".'),
    Operation('area', 'area', 'Area analysis', STATISTICS, 'Area statistics of the classes and the landscape.' +
              _NEEDS_AREA, window=True),
    Operation('edge', 'edge', 'Edge analysis', STATISTICS, 'Edge statistics of the classes and the landscape.' +
              _NEEDS_AREA, window=True),
    Operation('form', 'form', 'Form analysis', STATISTICS,
              'Writes "Paratio", "Shape_Idx" and "Frac_Dim" into the layer and shows their statistics.' + _NEEDS_AREA,
              window=True),
    Operation('corearea', 'core-area', 'Core area analysis', STATISTICS,
              'Shrinks every patch inward by the edge distance into a new core area layer and shows the core area '
              'statistics.', core=True, window=True),
    Operation('diversity', 'diversity', 'Diversity analysis', STATISTICS,
              'Diversity statistics of the selected classes.' + _NEEDS_AREA, potential=True, window=True),
    Operation('subdivision', 'subdivision', 'Subdivision analysis', STATISTICS,
              'Subdivision statistics of the classes.' + _NEEDS_AREA, window=True),
    Operation('deletefields', 'delete-fields', 'Delete fields', UTILITIES, 'Deletes fields from the layer.',
              classes=False, fields=True),
]

# quilta's names of map units, offered for a layer whose file has no
# coordinate system; the first choice takes them from the layer in QGIS.
MAP_UNITS = ['meters', 'feet', 'yards', 'miles', 'inches', 'millimeters', 'centimeters', 'kilometers', 'degrees']
_QGIS_UNITS = {
    QgsUnitTypes.DistanceMeters: 'meters', QgsUnitTypes.DistanceFeet: 'feet', QgsUnitTypes.DistanceYards: 'yards',
    QgsUnitTypes.DistanceMiles: 'miles', QgsUnitTypes.DistanceMillimeters: 'millimeters',
    QgsUnitTypes.DistanceCentimeters: 'centimeters', QgsUnitTypes.DistanceKilometers: 'kilometers',
    QgsUnitTypes.DistanceDegrees: 'degrees',
}


class _QuiltaBase(QgsProcessingAlgorithm):
    """What every algorithm of the provider shares: its icon, the map units
    option, numbers as quilta reads them and the program to run."""
    MAP_UNITS = 'MAP_UNITS'

    def icon(self):
        return QIcon(ICON)

    def svgIconPath(self):
        return ICON

    def _add_map_units(self):
        units = QgsProcessingParameterEnum(self.MAP_UNITS, 'Map units of a shapefile without coordinate system',
                                           ['from the layer in QGIS'] + MAP_UNITS, defaultValue=0)
        units.setFlags(units.flags() | QgsProcessingParameterDefinition.FlagAdvanced)
        self.addParameter(units)

    def _map_units(self, parameters, context, layer):
        units = self.parameterAsEnum(parameters, self.MAP_UNITS, context)
        unit_name = MAP_UNITS[units - 1] if units > 0 else _QGIS_UNITS.get(layer.crs().mapUnits())
        # quilta takes them only for a file without coordinate system.
        return ['--map-units', unit_name] if unit_name else []

    def _number(self, parameters, name, option, context):
        if parameters.get(name) in (None, ''):
            return []  # quilta's own default
        return [option, program.number_text(self.parameterAsDouble(parameters, name, context))]

    def _find_program(self):
        try:
            return program.find_program(configured_program())
        except program.ProgramMissing as e:
            raise QgsProcessingException(str(e))


class QuiltaAlgorithm(_QuiltaBase):
    INPUT = 'INPUT'
    CLASS_FIELD = 'CLASS_FIELD'
    CLASSES = 'CLASSES'
    BUFFER = 'BUFFER'
    SUFFIX = 'SUFFIX'
    DISTANCE = 'DISTANCE'
    CORE_OUTPUT = 'CORE_OUTPUT'
    POTENTIAL = 'POTENTIAL'
    FIELDS = 'FIELDS'
    REPORTS = 'REPORTS'
    OUTPUT_HTML = 'OUTPUT_HTML'
    OUTPUT = 'OUTPUT'

    def __init__(self, operation):
        super().__init__()
        self._operation = operation

    # -- description --------------------------------------------------------

    def createInstance(self):
        return QuiltaAlgorithm(self._operation)

    def name(self):
        return self._operation.alg_id

    def displayName(self):
        return self._operation.title

    def group(self):
        return self._operation.group[1]

    def groupId(self):
        return self._operation.group[0]

    def shortHelpString(self):
        op = self._operation
        notes = [op.help_text]
        if op.classes:
            notes.append('Without a class field the whole layer is one class (in the field "noclass"); without '
                         'classes every class is analysed.')
        if op.buffer:
            notes.append('Without a buffer distance it is the larger side of the layer\'s extent. The field name '
                         'ends with the buffer distance, or with the suffix when one is given (needed when the '
                         'distance has more than 5 characters).')
        if op.potential:
            notes.append('Without a potential richness it is the number of selected classes.')
        notes.append('Runs "quilta LAYER {}" on the layer\'s data (a shapefile, a GeoPackage layer or a PostGIS '
                     'table), which is changed in place. Cancel stops the run at its next cancel point; what was '
                     'stored stays stored.'.format(op.op))
        return '\n\n'.join(notes)

    def initAlgorithm(self, config=None):
        op = self._operation
        self.addParameter(QgsProcessingParameterVectorLayer(self.INPUT, 'Polygon layer',
                                                            [QgsProcessing.TypeVectorPolygon]))
        if op.classes:
            self.addParameter(QgsProcessingParameterField(
                self.CLASS_FIELD, 'Class field',
                parentLayerParameterName=self.INPUT, optional=True))
            self.addParameter(QgsProcessingParameterString(
                self.CLASSES, 'Classes, in this order (one per line or comma-separated)',
                multiLine=True, optional=True))
        if op.buffer:
            self.addParameter(QgsProcessingParameterNumber(
                self.BUFFER, 'Buffer distance (map units)',
                QgsProcessingParameterNumber.Double, optional=True))
            self.addParameter(QgsProcessingParameterString(
                self.SUFFIX, 'Field name suffix (at most 5 characters)', optional=True))
        if op.core:
            self.addParameter(QgsProcessingParameterNumber(self.DISTANCE, 'Edge distance (map units)',
                                                           QgsProcessingParameterNumber.Double, defaultValue=10))
            self.addParameter(QgsProcessingParameterVectorDestination(self.CORE_OUTPUT, 'Core areas',
                                                                      QgsProcessing.TypeVectorPolygon))
        if op.potential:
            self.addParameter(QgsProcessingParameterNumber(
                self.POTENTIAL, 'Potential richness',
                QgsProcessingParameterNumber.Double, optional=True))
        if op.fields:
            self.addParameter(QgsProcessingParameterField(self.FIELDS, 'Fields to delete',
                                                          parentLayerParameterName=self.INPUT, allowMultiple=True))
        self._add_map_units()
        if op.window:
            self.addParameter(QgsProcessingParameterFolderDestination(self.REPORTS, 'Reports', optional=True,
                                                                      createByDefault=True))
            self.addParameter(QgsProcessingParameterFileDestination(self.OUTPUT_HTML, 'Result window',
                                                                    'HTML files (*.html)', optional=True,
                                                                    createByDefault=True))
        self.addOutput(QgsProcessingOutputVectorLayer(self.OUTPUT, 'Analysed layer'))

    # -- running ------------------------------------------------------------

    def prepareAlgorithm(self, parameters, context, feedback):
        # Layers and settings are read here, in the main thread.
        layer = self.parameterAsVectorLayer(parameters, self.INPUT, context)
        if layer is None:
            raise QgsProcessingException(self.invalidSourceError(parameters, self.INPUT))
        if layer.isEditable():
            raise QgsProcessingException('The layer "{}" is being edited: save or discard its edits first, since '
                                         'Quilta writes into its file.'.format(layer.name()))
        if layer.subsetString():
            feedback.pushInfo('The filter of the layer "{}" does not apply: Quilta analyses every feature of its '
                              'file.'.format(layer.name()))
        self._layer = layer
        self._project_layers = layers.same_data_in_project(layer, context.project())
        in_project = layer.id() in self._project_layers
        self._output = layer.id() if in_project else layer.source()
        self._program = self._find_program()
        self._arguments, self._results = self._command(parameters, context, layer)
        return True

    def _command(self, parameters, context, layer):
        op = self._operation
        args = layers.layer_arguments(layer) + [op.op]
        results = {}
        if op.classes:
            field = self.parameterAsString(parameters, self.CLASS_FIELD, context)
            # Texts go as --option=TEXT, so that one starting with "-" stays a value.
            args += ['--class-field=' + field] if field else ['--no-class-field']
            # Each line is one --classes option: quilta splits it at commas
            # unless the whole line is one class (a name with a comma).
            for line in self.parameterAsString(parameters, self.CLASSES, context).splitlines():
                if line.strip():
                    args += ['--classes=' + line.strip()]
        if op.buffer:
            args += self._number(parameters, self.BUFFER, '--buffer', context)
            suffix = self.parameterAsString(parameters, self.SUFFIX, context)
            if suffix:
                args += ['--suffix=' + suffix]
        if op.core:
            args += self._number(parameters, self.DISTANCE, '--distance', context)
            core = self.parameterAsOutputLayer(parameters, self.CORE_OUTPUT, context)
            args += ['--core-output', core]
            results[self.CORE_OUTPUT] = core
        if op.potential:
            args += self._number(parameters, self.POTENTIAL, '--potential', context)
        if op.fields:
            args += ['--fields=' + ','.join(self.parameterAsFields(parameters, self.FIELDS, context))]
        args += self._map_units(parameters, context, layer)
        if op.window:
            reports = self.parameterAsString(parameters, self.REPORTS, context)
            if reports:
                os.makedirs(reports, exist_ok=True)
                args += ['--reports', reports]
                results[self.REPORTS] = reports
            html = self.parameterAsFileOutput(parameters, self.OUTPUT_HTML, context)
            if html:
                results[self.OUTPUT_HTML] = html
            args.append('--json')
        args += ['--progress', 'json']
        return args, results

    def processAlgorithm(self, parameters, context, feedback):
        reports = self._results.get(self.REPORTS)
        before = _files(reports)
        try:
            run = program.run([self._program] + self._arguments, feedback, cwd=QgsProcessingUtils.tempFolder())
        finally:
            # However the run ended, QGIS shows the fields it wrote.
            layers.reload_after_run(self._layer, self._project_layers)
        failure = run.failure()
        if failure:
            raise QgsProcessingException(failure)
        if run.cancelled:
            feedback.pushInfo('Cancelled: the fields written before the cancel stay in the layer.')
        html = self._results.get(self.OUTPUT_HTML)
        if html:
            saved = [p for p, stamp in _files(reports).items() if before.get(p) != stamp]
            with open(html, 'w', encoding='utf-8') as f:
                f.write(result_html.page(run.windows, sorted(saved)))
        return dict(self._results, OUTPUT=self._output)


LEVEL_NAMES = ['patch', 'class', 'landscape']


class MetricsAlgorithm(_QuiltaBase):
    """The metric catalogue of a polygon layer as a long table ("quilta
    metrics"), written into a CSV file that QGIS opens as a table. The layers
    are only read."""
    INPUT = 'INPUT'
    CLASS_FIELD = 'CLASS_FIELD'
    LEVELS = 'LEVELS'
    METRICS = 'METRICS'
    EDGE_DEPTH = 'EDGE_DEPTH'
    SEARCH_RADIUS = 'SEARCH_RADIUS'
    COUNT_BOUNDARY = 'COUNT_BOUNDARY'
    REGIONS = 'REGIONS'
    REGION_FIELD = 'REGION_FIELD'
    POINTS = 'POINTS'
    POINT_FIELD = 'POINT_FIELD'
    RADII = 'RADII'
    OUTPUT = 'OUTPUT'

    def createInstance(self):
        return MetricsAlgorithm()

    def name(self):
        return 'metrics'

    def displayName(self):
        return 'Metric table'

    def group(self):
        return CATALOGUE[1]

    def groupId(self):
        return CATALOGUE[0]

    def shortHelpString(self):
        return '\n\n'.join([
            'The patch, class and landscape metrics of the catalogue as one long table: one row per region, '
            'radius, level, class, patch and metric (columns layer, region, radius, level, class, id, metric, '
            'value; the value is empty when the metric is undefined). Lengths are in metres, areas in hectares '
            'where the metric\'s name says ha. The help document\'s section on the metric catalogue gives every '
            'definition.',
            'Without metrics named, every metric of the chosen levels is written; an edge depth adds the core '
            'metrics, a search radius the proximity metrics.',
            'With a regions layer each of its polygons is a landscape of its own; with a points layer each point '
            'and radius is one. Quilta reads regions and points from shapefiles (or a GeoPackage opened as a '
            'whole file), in the coordinate system of the polygon layer.',
            'Runs "quilta metrics LAYER" on the layer\'s data (a shapefile, a GeoPackage layer or a PostGIS '
            'table), which is only read: edits not saved yet do not count.'])

    def initAlgorithm(self, config=None):
        self.addParameter(QgsProcessingParameterVectorLayer(self.INPUT, 'Polygon layer',
                                                            [QgsProcessing.TypeVectorPolygon]))
        self.addParameter(QgsProcessingParameterField(self.CLASS_FIELD, 'Class field',
                                                      parentLayerParameterName=self.INPUT))
        self.addParameter(QgsProcessingParameterEnum(self.LEVELS, 'Levels', LEVEL_NAMES, allowMultiple=True,
                                                     defaultValue=[1, 2]))
        self.addParameter(QgsProcessingParameterString(
            self.METRICS, 'Metrics by name, comma-separated (empty: every metric of the chosen levels)',
            optional=True))
        self.addParameter(QgsProcessingParameterNumber(self.EDGE_DEPTH, 'Edge depth of the core metrics (metres)',
                                                       QgsProcessingParameterNumber.Double, optional=True))
        self.addParameter(QgsProcessingParameterNumber(
            self.SEARCH_RADIUS, 'Search radius of the proximity metrics (metres, edge to edge)',
            QgsProcessingParameterNumber.Double, optional=True))
        self.addParameter(QgsProcessingParameterBoolean(
            self.COUNT_BOUNDARY, 'The landscape\'s outer boundary counts as edge (te, ed)', defaultValue=False))
        self.addParameter(QgsProcessingParameterVectorLayer(self.REGIONS, 'Regions (one landscape per polygon)',
                                                            [QgsProcessing.TypeVectorPolygon], optional=True))
        self.addParameter(QgsProcessingParameterField(self.REGION_FIELD, 'Field naming the regions',
                                                      parentLayerParameterName=self.REGIONS, optional=True))
        self.addParameter(QgsProcessingParameterVectorLayer(self.POINTS, 'Sample points (one landscape per point '
                                                            'and radius)', [QgsProcessing.TypeVectorPoint],
                                                            optional=True))
        self.addParameter(QgsProcessingParameterField(self.POINT_FIELD, 'Field naming the points',
                                                      parentLayerParameterName=self.POINTS, optional=True))
        self.addParameter(QgsProcessingParameterString(
            self.RADII, 'Radii around the points (metres, comma-separated, e.g. 250,500,1000)', optional=True))
        self._add_map_units()
        self.addParameter(QgsProcessingParameterFileDestination(self.OUTPUT, 'Metric table', 'CSV files (*.csv)'))

    def prepareAlgorithm(self, parameters, context, feedback):
        layer = self.parameterAsVectorLayer(parameters, self.INPUT, context)
        if layer is None:
            raise QgsProcessingException(self.invalidSourceError(parameters, self.INPUT))
        self._program = self._find_program()
        args = ['metrics'] + layers.layer_arguments(layer)
        args += ['--class-field=' + self.parameterAsString(parameters, self.CLASS_FIELD, context)]
        levels = self.parameterAsEnums(parameters, self.LEVELS, context)
        if not levels:
            raise QgsProcessingException('Choose at least one level: patch, class or landscape.')
        args += ['--level=' + ','.join(LEVEL_NAMES[i] for i in sorted(set(levels)))]
        metrics = _words(self.parameterAsString(parameters, self.METRICS, context))
        if metrics:
            args += ['--metrics=' + ','.join(metrics)]
        args += self._number(parameters, self.EDGE_DEPTH, '--edge-depth', context)
        args += self._number(parameters, self.SEARCH_RADIUS, '--search-radius', context)
        if self.parameterAsBoolean(parameters, self.COUNT_BOUNDARY, context):
            args.append('--count-boundary')
        args += self._landscapes(parameters, context)
        args += self._map_units(parameters, context, layer)
        for l in [layer] + self._side_layers:
            if l.isModified():
                feedback.pushInfo('The edits of the layer "{}" that are not saved do not count: Quilta reads its '
                                  'data.'.format(l.name()))
            if l.subsetString():
                feedback.pushInfo('The filter of the layer "{}" does not apply: Quilta reads every feature of its '
                                  'data.'.format(l.name()))
        self._table = self.parameterAsFileOutput(parameters, self.OUTPUT, context)
        args += ['--format', 'csv', '--output', self._table]
        self._arguments = args
        # "Open output file after running": the table joins that project.
        value = parameters.get(self.OUTPUT)
        self._load_into = value.destinationProject if isinstance(value, QgsProcessingOutputLayerDefinition) else None
        return True

    def _landscapes(self, parameters, context):
        """The options of the regions or the sample points, if any."""
        regions = self.parameterAsVectorLayer(parameters, self.REGIONS, context)
        points = self.parameterAsVectorLayer(parameters, self.POINTS, context)
        radii = _words(self.parameterAsString(parameters, self.RADII, context))
        self._side_layers = [l for l in (regions, points) if l is not None]
        if regions is not None and points is not None:
            raise QgsProcessingException('Choose regions or sample points, not both.')
        if radii and points is None:
            raise QgsProcessingException('The radii are around sample points: choose a points layer too.')
        args = []
        if regions is not None:
            field = self.parameterAsString(parameters, self.REGION_FIELD, context)
            if not field:
                raise QgsProcessingException('Choose the field naming the regions.')
            args += ['--regions=' + _whole_file(regions, 'regions'), '--region-field=' + field]
        if points is not None:
            field = self.parameterAsString(parameters, self.POINT_FIELD, context)
            if not field:
                raise QgsProcessingException('Choose the field naming the sample points.')
            if not radii:
                raise QgsProcessingException('Give the radii around the sample points, e.g. 250,500,1000.')
            try:
                numbers = [program.number_text(float(r)) for r in radii]
            except ValueError:
                raise QgsProcessingException('The radii "{}" are not numbers separated by commas.'.format(
                    self.parameterAsString(parameters, self.RADII, context)))
            args += ['--points=' + _whole_file(points, 'sample points'), '--point-field=' + field,
                     '--radius=' + ','.join(numbers)]
        return args

    def processAlgorithm(self, parameters, context, feedback):
        # A table left from an earlier run must not pass for this run's.
        _remove(self._table)
        run = program.run([self._program] + self._arguments, feedback, cwd=QgsProcessingUtils.tempFolder())
        failure = run.failure()
        if failure or run.cancelled:
            _remove(self._table)
            if not failure:
                # QGIS does not log the error of a cancelled run.
                feedback.pushInfo('Cancelled: no table was written.')
            raise QgsProcessingException(failure or 'Cancelled: no table was written.')
        # quilta metrics reports no progress of its own.
        feedback.setProgress(100)
        if self._load_into is not None:
            context.addLayerToLoadOnCompletion(
                self._table, QgsProcessingContext.LayerDetails('Metric table', self._load_into, self.OUTPUT))
        return {self.OUTPUT: self._table}


def _words(text):
    """The comma- or blank-separated items of a text parameter."""
    return [w for w in re.split(r'[\s,]+', text or '') if w]


def _whole_file(layer, what):
    """The one argument that names the regions or sample points: quilta
    metrics opens them without choosing a layer of a GeoPackage or a table
    of a database."""
    args = layers.layer_arguments(layer)
    if len(args) != 1:
        raise QgsProcessingException(
            'Quilta reads {} from a shapefile (or a GeoPackage opened as a whole file); the layer "{}" is one '
            'layer of a GeoPackage or a database table: save it as a shapefile first.'.format(what, layer.name()))
    return args[0]


def _remove(path):
    if path and os.path.isfile(path):
        os.remove(path)


def _files(folder):
    """The report files in `folder`: path -> (modification time, size)."""
    if not folder or not os.path.isdir(folder):
        return {}
    out = {}
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if name.endswith('.txt') and os.path.isfile(path):
            st = os.stat(path)
            out[path] = (st.st_mtime_ns, st.st_size)
    return out


def all_algorithms():
    return [QuiltaAlgorithm(op) for op in OPERATIONS] + [MetricsAlgorithm()]
