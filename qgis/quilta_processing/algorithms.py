"""One Processing algorithm per operation of the Quilta tool window. Each is a
run of the quilta program on the layer's file: the parameters are quilta's
options, the fields quilta writes land in the layer itself (reloaded in QGIS
afterwards), the result windows become an HTML page and the reports are saved
into a folder. No metric is computed here."""

import os

from qgis.core import (QgsProcessing, QgsProcessingAlgorithm, QgsProcessingException,
                       QgsProcessingOutputVectorLayer, QgsProcessingParameterDefinition, QgsProcessingParameterEnum,
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


class QuiltaAlgorithm(QgsProcessingAlgorithm):
    INPUT = 'INPUT'
    CLASS_FIELD = 'CLASS_FIELD'
    CLASSES = 'CLASSES'
    BUFFER = 'BUFFER'
    SUFFIX = 'SUFFIX'
    DISTANCE = 'DISTANCE'
    CORE_OUTPUT = 'CORE_OUTPUT'
    POTENTIAL = 'POTENTIAL'
    FIELDS = 'FIELDS'
    MAP_UNITS = 'MAP_UNITS'
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

    def icon(self):
        return QIcon(ICON)

    def svgIconPath(self):
        return ICON

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
        units = QgsProcessingParameterEnum(self.MAP_UNITS, 'Map units of a shapefile without coordinate system',
                                           ['from the layer in QGIS'] + MAP_UNITS, defaultValue=0)
        units.setFlags(units.flags() | QgsProcessingParameterDefinition.FlagAdvanced)
        self.addParameter(units)
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
        try:
            self._program = program.find_program(configured_program())
        except program.ProgramMissing as e:
            raise QgsProcessingException(str(e))
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
        units = self.parameterAsEnum(parameters, self.MAP_UNITS, context)
        unit_name = MAP_UNITS[units - 1] if units > 0 else _QGIS_UNITS.get(layer.crs().mapUnits())
        if unit_name:
            # quilta takes them only for a file without coordinate system.
            args += ['--map-units', unit_name]
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

    def _number(self, parameters, name, option, context):
        if parameters.get(name) in (None, ''):
            return []  # quilta's own default
        return [option, program.number_text(self.parameterAsDouble(parameters, name, context))]

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
    return [QuiltaAlgorithm(op) for op in OPERATIONS]
